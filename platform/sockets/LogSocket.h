// The local system log's socket (a Unix datagram socket, /dev/log on Debian) as the program's log
// sees it: one call hands one finished line over. The line's syslog form is the engine's business.
#pragma once

#include <string>

namespace velmora {

// The system log's usual socket; journald and rsyslog both listen there.
constexpr const char* kSystemLogSocket = "/dev/log";

// Sends message as one datagram to the Unix socket at socketPath (a stream socket when the path
// takes only streams, as some syslog daemons make it). Waits at most a second for a full socket
// buffer, so a stalled log daemon never holds a request; false when the line was not handed over.
bool SendToLogSocket(const std::string& socketPath, const std::string& message) noexcept;

// This process's id, as the system log names the sender.
int CurrentProcessId() noexcept;

}  // namespace velmora
