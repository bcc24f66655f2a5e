// The listening socket a service manager opened for this process and handed over at start
// (LISTEN_PID, LISTEN_FDS: the socket-activation convention of systemd). Asked once, at start.
#pragma once

#include <string>

namespace velmora {

// The first descriptor a service manager hands over.
constexpr int kFirstActivatedFd = 3;

// The handed-over listening socket: its descriptor, or -1 when none was handed to this process
// (no LISTEN_PID, or one naming another process: the variables were inherited from a parent).
// -1 with error set when the hand-over is unusable (not exactly one descriptor, not a listening
// socket). The variables are removed from the environment either way, so that no process this
// one starts takes them for its own.
int TakeActivatedSocket(std::string& error);

}  // namespace velmora
