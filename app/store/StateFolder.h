// Where velmora keeps the files it makes and replaces while it serves: the site's State folder when
// there is one (site create makes it, owned by the web server's account), else beside the program.
#pragma once

#include <string>

namespace velmora {

// The folder velmora must be able to create and rename files in; ends in "/". A site folder that
// the web server's account may not write keeps its counts and markers in State/ instead, so the
// program and VELMORA.CONF beside them stay out of that account's reach.
std::string StateFolder(const std::string& programDir);

}  // namespace velmora
