// TFileWatch on inotify: the descriptor joins the owning thread's poll; when it is readable the
// queue drains it and posts the notice.
#include "FileWatch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include "MessageQueueImpl.h"

namespace velmora {

namespace {

// A watch on the folder would wake every watcher for every request and answer file written
// beside the queue: with many clients waiting, most of the machine went into those wakes.
constexpr uint32_t kWatchedEvents = IN_MODIFY | IN_DELETE_SELF | IN_MOVE_SELF;

// Reads every pending event; true when there was one.
bool DrainEvents(int fd) {
    alignas(inotify_event) char buf[4096];
    bool any = false;
    while (::read(fd, buf, sizeof buf) > 0) any = true;  // EAGAIN: drained
    return any;
}

}  // namespace

TFileWatch::TFileWatch(const std::string& path, HWND window, unsigned message)
    : FQueue(TMessageQueue::CurrentShared()) {
    auto* queue = dynamic_cast<TQueue*>(FQueue.get());
    if (!queue) return;
    FFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (FFd < 0) return;
    if (::inotify_add_watch(FFd, path.c_str(), kWatchedEvents) < 0) {
        ::close(FFd);
        FFd = -1;
        return;
    }
    const int fd = FFd;
    queue->WatchChanges(fd, window, message, [fd] { return DrainEvents(fd); });
}

TFileWatch::~TFileWatch() {
    if (FFd < 0) return;
    if (auto* queue = dynamic_cast<TQueue*>(FQueue.get())) queue->UnwatchChanges(FFd);
    ::close(FFd);
}

}  // namespace velmora
