#pragma once
// Connections above the bound: one thread answers them all with the
// built-in 503 page, so that a crowd never makes the server start a thread
// per connection or hold up its accept loop.

#include <chrono>
#include <cstddef>

// Refused connections being answered at once; more are closed unanswered.
// Each holds a descriptor from the reserve, so this stays well inside it.
constexpr std::size_t kMaxPendingRefusals = 16;
// How long a refused connection is kept to deliver the page and read what
// the client sends; closing with unread data would reset the connection and
// could wipe out the page before the client reads it.
constexpr auto kRefusalLinger = std::chrono::seconds(2);

// Hands an accepted plain connection over to be answered with 503 and
// closed; the caller no longer owns the handle. Never blocks.
void RefuseConnection(int handle);
// Closes every refused connection still pending and waits for the thread.
void StopRefusals();
