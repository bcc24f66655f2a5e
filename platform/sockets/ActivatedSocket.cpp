// Reads the socket-activation hand-over: LISTEN_PID names the process meant, LISTEN_FDS how many
// descriptors follow fd 2. velmora serves one socket, so it takes exactly one.
#include "ActivatedSocket.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "Listener.h"

namespace velmora {

namespace {

// A whole decimal number from 1 up to max; 0 for anything else.
long PositiveNumber(const char* text, long max) {
    if (text == nullptr || *text == '\0') return 0;
    char* end = nullptr;
    errno = 0;
    long n = std::strtol(text, &end, 10);
    return (errno != 0 || *end != '\0' || n < 1 || n > max) ? 0 : n;
}

}  // namespace

int TakeActivatedSocket(std::string& error) {
    const char* pidText = std::getenv("LISTEN_PID");
    const char* countText = std::getenv("LISTEN_FDS");
    const bool forUs = pidText != nullptr && PositiveNumber(pidText, 1L << 22) == static_cast<long>(::getpid());
    const long count = PositiveNumber(countText, 1024);
    const bool given = countText != nullptr;
    ::unsetenv("LISTEN_PID");
    ::unsetenv("LISTEN_FDS");
    ::unsetenv("LISTEN_FDNAMES");
    if (!forUs || !given) return -1;
    if (count != 1) {
        error = std::string("the service manager handed over ") + countText +
                " sockets (LISTEN_FDS); velmora listens on exactly one";
        return -1;
    }
    if (!IsListeningSocket(kFirstActivatedFd)) {
        error = "the descriptor the service manager handed over (fd 3) is not a listening socket";
        return -1;
    }
    // Inherited without close-on-exec; no program velmora starts should hold the socket open.
    ::fcntl(kFirstActivatedFd, F_SETFD, FD_CLOEXEC);
    return kFirstActivatedFd;
}

}  // namespace velmora
