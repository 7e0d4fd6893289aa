#include "platform/SocketHandle.h"

#include <sys/socket.h>
#include <unistd.h>

void ShutdownSocket(int handle) { ::shutdown(handle, SHUT_RDWR); }

void CloseSocketHandle(int handle) {
  if (handle >= 0) ::close(handle);
}
