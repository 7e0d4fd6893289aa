#pragma once
// Sending a file to a socket without copying it through the program.

#include <cstdint>

// Sends up to `count` bytes of the open file `file`, from its current
// position (which moves on), to the connected socket `socket`, waiting as
// a send on that socket does. Returns the count sent, 0 at the end of the
// file, or -1 with errno set.
int64_t SendFileBytes(int socket, int file, int64_t count);
