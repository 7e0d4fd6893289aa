// Test extension: takes the request body from the control block and then
// through ReadClient, and reports the pieces and a checksum of the bytes.
#include <cstdint>
#include <string>
#include <vector>

#include "common/Isapi.h"

namespace {
uint32_t Fnv(uint32_t hash, const unsigned char* bytes, DWORD count) {
  for (DWORD i = 0; i < count; ++i) hash = (hash ^ bytes[i]) * 16777619u;
  return hash;
}
}  // namespace

extern "C" DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb) {
  uint32_t hash = Fnv(2166136261u, ecb->lpbData, ecb->cbAvailable);
  std::string report = "TOTAL=" + std::to_string(ecb->cbTotalBytes) +
                       " AVAIL=" + std::to_string(ecb->cbAvailable) + " READS=";
  std::vector<unsigned char> buffer(65536);
  // Bounded: the body is finite and a 0 ends it.
  // With the query "small" the first read offers only 1000 bytes of room.
  bool small = std::string(ecb->lpszQueryString) == "small";
  for (int round = 0; round < 100; ++round) {
    DWORD size = static_cast<DWORD>(round == 0 && small ? 1000 : buffer.size());
    if (!ecb->ReadClient(ecb->ConnID, buffer.data(), &size)) {
      report += "F";
      break;
    }
    report += std::to_string(size) + ",";
    if (size == 0) break;
    hash = Fnv(hash, buffer.data(), size);
  }
  report += " HASH=" + std::to_string(hash);
  DWORD size = static_cast<DWORD>(report.size());
  ecb->WriteClient(ecb->ConnID, report.data(), &size, 0);
  return HSE_STATUS_SUCCESS;
}
