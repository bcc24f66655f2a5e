// TFolderWatch: a change notice for one file of a folder, delivered as a message to a window of
// the calling thread through its message queue (inotify underneath), so a poll can run at once.
#pragma once

#include <memory>
#include <string>

#include "Messages.h"

namespace velmora {

// Owned by the thread that creates it; the messages arrive on that thread while it waits or pumps
// messages. The folder is watched, not the file, so a file deleted and made anew is still seen.
// Reports a name written to (modified), created, deleted or renamed to or from; opening, reading,
// closing and changes of the file's times are not reported, so a process that only touches the
// file's time, or opens it to look, never wakes itself or others. At most one notice is pending.
class TFolderWatch {
public:
    TFolderWatch(const std::string& folder, const std::string& fileName, HWND window, unsigned message);
    ~TFolderWatch();
    TFolderWatch(const TFolderWatch&) = delete;
    TFolderWatch& operator=(const TFolderWatch&) = delete;

    // False when the system gave no watch: then nothing is reported and only polling applies.
    bool Active() const noexcept { return FFd >= 0; }

private:
    std::shared_ptr<TMessageQueue> FQueue;
    int FFd = -1;
};

}  // namespace velmora
