// The calls that reach another thread's queue: posting to a window, selecting socket
// notifications for a window, and re-enabling them after recv/send/accept. They find the queue
// through the registry, so the socket layer need not know which thread owns a window.
#include <fcntl.h>
#include <sys/socket.h>

#include "MessageQueueImpl.h"

namespace velmora {

namespace {

constexpr int kNotASocket = 10038;      // WSAENOTSOCK
constexpr int kInvalidArgument = 10022;  // WSAEINVAL

std::shared_ptr<TQueue> OwnerOf(HWND window) {
    auto it = Registry().Windows.find(window);
    return it == Registry().Windows.end() ? nullptr : it->second.lock();
}

std::shared_ptr<TQueue> WatcherOf(int fd) {
    auto it = Registry().Sockets.find(fd);
    return it == Registry().Sockets.end() ? nullptr : it->second.lock();
}

// Whether fd is a socket, and whether it listens.
bool InspectSocket(int fd, bool& listening) {
    int accepting = 0;
    socklen_t len = sizeof accepting;
    if (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &accepting, &len) != 0) return false;
    listening = accepting != 0;
    return true;
}

}  // namespace

bool PostMessage(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam) {
    std::shared_ptr<TQueue> queue;
    {
        std::lock_guard<std::mutex> g(Registry().Lock);
        queue = OwnerOf(window);
    }
    if (!queue) return false;
    queue->Post(window, message, wParam, lParam);
    return true;
}

int SelectSocket(int fd, HWND window, unsigned message, long events) {
    bool listening = false;
    if (fd < 0 || !InspectSocket(fd, listening)) return kNotASocket;
    // Declared before the lock: should one of these be a queue's last owner, its destructor takes
    // the registry lock itself.
    std::shared_ptr<TQueue> previous, queue;
    std::lock_guard<std::mutex> g(Registry().Lock);
    previous = WatcherOf(fd);
    if (events == 0) {
        if (previous) previous->Unwatch(fd);
        Registry().Sockets.erase(fd);
        return 0;
    }
    queue = OwnerOf(window);
    if (!queue || message == 0) return kInvalidArgument;
    if (previous && previous != queue) previous->Unwatch(fd);
    // Notifications are for sockets that never block, so selecting makes it one (as Winsock does).
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return kNotASocket;
    queue->Watch(fd, window, message, events, listening);
    Registry().Sockets[fd] = queue;
    return 0;
}

void ReenableSocketEvent(int fd, long event) {
    std::shared_ptr<TQueue> queue;
    {
        std::lock_guard<std::mutex> g(Registry().Lock);
        queue = WatcherOf(fd);
    }
    if (queue) queue->Reenable(fd, event);
}

}  // namespace velmora
