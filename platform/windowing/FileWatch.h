// TFileWatch: a change notice for one file, delivered as a message to a window of the calling
// thread through its message queue (inotify underneath), so a poll can run at once.
#pragma once

#include <memory>
#include <string>

#include "Messages.h"

namespace velmora {

// Owned by the thread that creates it; the messages arrive on that thread while it waits or pumps
// messages. Reports writes to the file and its going away (deleted or renamed); opening, reading,
// closing, changes of its times and every other file of its folder are not reported, so a process
// that only looks at the file, or touches its time, wakes no one. At most one notice is pending.
// The file is watched, not its name: one deleted and made anew is not seen until watched anew.
class TFileWatch {
public:
    TFileWatch(const std::string& path, HWND window, unsigned message);
    ~TFileWatch();
    TFileWatch(const TFileWatch&) = delete;
    TFileWatch& operator=(const TFileWatch&) = delete;

    // False when the system gave no watch (or the file is missing): then nothing is reported and
    // only polling applies.
    bool Active() const noexcept { return FFd >= 0; }

private:
    std::shared_ptr<TMessageQueue> FQueue;
    int FFd = -1;
};

}  // namespace velmora
