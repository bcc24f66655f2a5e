// TFolderWatch on inotify: the descriptor joins the owning thread's poll; when it is readable the
// queue drains it and posts the notice only if an event names the watched file.
#include "FolderWatch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cstring>

#include "MessageQueueImpl.h"

namespace velmora {

namespace {

constexpr uint32_t kWatchedEvents = IN_MODIFY | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;

// Reads every pending event; true when one of them names fileName (or events were lost).
bool DrainEvents(int fd, const std::string& fileName) {
    alignas(inotify_event) char buf[4096];
    bool matched = false;
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) return matched;  // EAGAIN: drained
        for (ssize_t pos = 0; pos < n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(buf + pos);
            if (ev->mask & IN_Q_OVERFLOW) matched = true;
            if (ev->len > 0 && std::strcmp(ev->name, fileName.c_str()) == 0) matched = true;
            pos += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
        }
    }
}

}  // namespace

TFolderWatch::TFolderWatch(const std::string& folder, const std::string& fileName, HWND window,
                           unsigned message)
    : FQueue(TMessageQueue::CurrentShared()) {
    auto* queue = dynamic_cast<TQueue*>(FQueue.get());
    if (!queue) return;
    FFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (FFd < 0) return;
    if (::inotify_add_watch(FFd, folder.c_str(), kWatchedEvents) < 0) {
        ::close(FFd);
        FFd = -1;
        return;
    }
    const int fd = FFd;
    queue->WatchChanges(fd, window, message, [fd, fileName] { return DrainEvents(fd, fileName); });
}

TFolderWatch::~TFolderWatch() {
    if (FFd < 0) return;
    if (auto* queue = dynamic_cast<TQueue*>(FQueue.get())) queue->UnwatchChanges(FFd);
    ::close(FFd);
}

}  // namespace velmora
