// Renames that never replace, and the taking of a spare file for a new content.
#include "SpareFile.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

bool RenameNoReplace(const std::string& from, const std::string& to) {
    return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}

std::unique_ptr<THandleStream> TakeSpareFile(const std::string& spare, const std::string& temp, int64_t& size) {
    if (!RenameNoReplace(spare, temp)) return nullptr;
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) {
        ::close(fd);
        return nullptr;
    }
    size = static_cast<int64_t>(st.st_size);
    return std::make_unique<THandleStream>(fd, true);
}

}  // namespace velmora
