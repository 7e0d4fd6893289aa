#pragma once
// The Control Panel applet interface: the entry every applet library exports,
// its messages and the NEWCPLINFO record. Integer types keep their Windows
// sizes (LONG and UINT are 32 bits), while handles and LPARAM take the
// platform's pointer size, so NEWCPLINFO's dwSize is its own sizeof.

#include <cstdint>

using LONG = int32_t;
using UINT = uint32_t;
using DWORD = uint32_t;
using LPARAM = intptr_t;
using LONG_PTR = intptr_t;
using HWND = void*;

// An icon handle. There are no icon resources on this platform: the handle
// points to the applet's picture as PNG bytes, which a host turns into an
// image of its own toolkit. The applet owns the bytes.
struct CPLICON {
  DWORD cbSize;             // sizeof(CPLICON)
  const unsigned char* Png;  // the PNG file bytes
  DWORD PngSize;
};
using HICON = const CPLICON*;

constexpr UINT CPL_INIT = 1;
constexpr UINT CPL_GETCOUNT = 2;
constexpr UINT CPL_INQUIRE = 3;
constexpr UINT CPL_SELECT = 4;
constexpr UINT CPL_DBLCLK = 5;
constexpr UINT CPL_STOP = 6;
constexpr UINT CPL_EXIT = 7;
constexpr UINT CPL_NEWINQUIRE = 8;

struct NEWCPLINFO {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD dwHelpContext;
  LONG_PTR lData;
  HICON hIcon;
  char szName[32];
  char szInfo[64];
  char szHelpFile[128];
};

extern "C" {
using APPLET_PROC = LONG (*)(HWND window, UINT message, LPARAM lParam1, LPARAM lParam2);
}

// The name under which every applet library exports its entry.
inline constexpr const char* kCPlAppletName = "CPlApplet";
