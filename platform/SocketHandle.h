#pragma once
// Socket handles that the listeners hold outside the socket object: the
// WinSock shutdown and closesocket of a bare handle.

// Shuts both directions of the socket. On a listening socket this makes an
// accept blocked in another thread fail at once, which closing it would
// not; the handle stays open for its owner to close.
void ShutdownSocket(int handle);
// Closes the handle; a negative one is left alone.
void CloseSocketHandle(int handle);
