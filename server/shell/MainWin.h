#pragma once
// TSvrWin, the server's control centre (see MainWin.cpp). This header also
// carries what other threads may ask of the window: they post, and the
// window's own thread carries the change out.

#include <cstdint>
#include <string>

// file version "/" internal name, from the version data built into the program.
extern std::string ServerSoftware;

// From any thread: the window caption and tray hint (the listener sets both).
void PostCaptionAndHint(const std::string& caption);
// From any thread: set the restart timer's interval and start it.
void PostArmRestartTimer(uint32_t intervalMs);
