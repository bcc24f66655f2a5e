// The State folder of a site (see StateFolder.h): looked up at each use, so a folder made while a
// resident server runs takes effect at its next post.
#include "StateFolder.h"

#include "Files.h"

namespace velmora {

std::string StateFolder(const std::string& programDir) {
    std::string dir = programDir.empty() || programDir.back() == '/' ? programDir : programDir + "/";
    // No link: a symbolic link would let whoever may write the site folder point the files elsewhere.
    return RealDirectoryExists(dir + "State") ? dir + "State/" : dir;
}

}  // namespace velmora
