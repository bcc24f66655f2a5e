// The State folder of a site (see StateFolder.h): looked up at each use, so a folder made while a
// resident server runs takes effect at its next post.
#include "StateFolder.h"

#include <sys/stat.h>

namespace velmora {

std::string StateFolder(const std::string& programDir) {
    std::string dir = programDir.empty() || programDir.back() == '/' ? programDir : programDir + "/";
    // lstat: a symbolic link would let whoever may write the site folder point the files elsewhere.
    struct stat st {};
    return ::lstat((dir + "State").c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? dir + "State/" : dir;
}

}  // namespace velmora
