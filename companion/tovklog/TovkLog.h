#pragma once
// The log library: stores the server's access and error records. Texts are
// short strings (a length byte and at most 255 bytes of Windows-1250).

#include <cstdint>

extern "C" {

struct TLogVirtNode {
  unsigned char Name[256];  // short string: a virtual server's upper-cased name
  TLogVirtNode* Next;
};

// protFile: the log directory; area: caller-owned scratch (unused here);
// servers: the virtual servers; newLogFile: 1 to start new files.
uint8_t LogDllInit(const unsigned char* protFile, void* area, const TLogVirtNode* servers,
                   uint8_t newLogFile);
void LogDllAddAccess(const unsigned char* host, const unsigned char* client,
                     const unsigned char* user, const unsigned char* timeStamp,
                     const unsigned char* requestLine, const unsigned char* referer,
                     const unsigned char* userAgent, uint32_t status, int32_t bytes);
void LogDllAddError(const unsigned char* message, const unsigned char* timeStamp);
void LogDllTimer();
void LogDllDone();
void LogDllAbout(unsigned char* text /* 256 bytes */);
}
