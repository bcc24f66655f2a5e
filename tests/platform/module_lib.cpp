// A small shared library of the platform tests: it links the platform code as a server-loaded
// library would, and answers what that code believes about its own module.
#include <cstring>
#include <string>

#include "System.h"

extern "C" {

// Copies the module file name into buf; its length, or -1 when buf is too small.
__attribute__((visibility("default"))) int velmora_test_module_name(char* buf, int size) {
    std::string name = velmora::GetModuleFileName();
    if (static_cast<int>(name.size()) >= size) return -1;
    std::memcpy(buf, name.c_str(), name.size() + 1);
    return static_cast<int>(name.size());
}

__attribute__((visibility("default"))) int velmora_test_runs_as_library() {
    return velmora::RunsAsLibrary() ? 1 : 0;
}
}
