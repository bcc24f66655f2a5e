// Writing a whole file from a test, the counterpart of ReadWholeFile (WebServer.h): side files,
// settings records and templates are bytes, written exactly as given.
#pragma once

#include <fstream>
#include <string>

namespace velmora::test {

inline void WriteWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace velmora::test
