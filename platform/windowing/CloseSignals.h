// What the message queue needs from the close-signal handler (private to the queue): the flag the
// handler sets, the descriptor it writes to so a waiting queue wakes, and which queue reports it.
#pragma once

namespace velmora {

class TMessageQueue;

// -1 until InstallCloseSignals ran.
int CloseSignalFd() noexcept;
// Whether a close signal arrived since the last call; clears the flag and drains the descriptor.
bool TakeCloseRequest() noexcept;
// The queue (by identity) that reports close signals as WM_CLOSE.
bool IsCloseSignalQueue(const TMessageQueue* queue) noexcept;
// A queue that ends stops being the one (its address may be reused by another thread's queue).
void ForgetCloseSignalQueue(const TMessageQueue* queue) noexcept;

}  // namespace velmora
