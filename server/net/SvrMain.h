#pragma once
// The listeners and the process-wide connection counters.

#include <atomic>
#include <cstdint>

extern std::atomic<uint32_t> AcceptedConnections;  // since the process started
extern std::atomic<uint16_t> ActiveConnections;    // live connection threads

void StartListeners(int port, bool tlsOn);
void StopListeners();
bool ListenersAreRunning();

constexpr int kTlsPort = 443;
constexpr uint32_t kLastConnectionNumber = 999;  // numbers run 1..999, then 1 again

// A listener's numbering: raises its counter and gives the number of the
// connection just accepted; the counter starts again after the last number.
uint32_t NextConnectionNumber(uint32_t& counter);
