// Top-level window titles shared between processes: a published title is a file named after it in
// $TMPDIR/velmora-windows-<uid>, exclusively flock'ed by its owner for as long as the title stands.
#pragma once

#include <string>

namespace velmora {

// The title of one window. Not thread-safe; a window belongs to one thread.
// Another process sees the title (FindWindowByTitle) while this object holds it; when the process
// dies, the kernel drops the lock and the title is gone without any clean-up.
class TWindowTitle {
public:
    TWindowTitle() = default;
    ~TWindowTitle() { Release(); }
    TWindowTitle(const TWindowTitle&) = delete;
    TWindowTitle& operator=(const TWindowTitle&) = delete;

    // Gives up the old title and publishes the new one. False when it could not be published
    // (empty title, the folder unusable, or another window already holds this exact title); the
    // title is remembered either way.
    bool SetTitle(const std::string& title);
    const std::string& Title() const noexcept { return FTitle; }
    bool Published() const noexcept { return FHandle >= 0; }

private:
    void Release() noexcept;

    std::string FTitle;
    std::string FPath;
    int FHandle = -1;
};

// True when some window (of this or another process) holds exactly this title now.
bool FindWindowByTitle(const std::string& title);

// The folder of published titles, made (mode 0700) on first use. Empty when it cannot be made or
// is not a folder owned by this user (so another user cannot plant or spy on titles).
std::string WindowTitleFolder();
// The file name that stands for a title: bytes that are unsafe or special in a file name become
// %XX, so distinct titles give distinct names and the name decodes back to the title. A title
// whose name would exceed the file-name limit is shortened and completed by a hash of the whole.
std::string WindowTitleFileName(const std::string& title);
std::string WindowTitleFromFileName(const std::string& name);

}  // namespace velmora
