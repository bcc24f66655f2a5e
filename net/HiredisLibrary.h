// libhiredis, loaded on the first use of a Redis store in the process: a program that keeps its
// counts in files never maps it. The functions are those of the hiredis.h the build saw.
#pragma once

#include <hiredis/hiredis.h>

namespace velmora {

struct THiredis {
    redisContext* (*ConnectTcp)(const char* ip, int port, const struct timeval tv);
    redisContext* (*ConnectUnix)(const char* path, const struct timeval tv);
    int (*SetTimeout)(redisContext* c, const struct timeval tv);
    void* (*CommandArgv)(redisContext* c, int argc, const char** argv, const size_t* argvlen);
    void (*FreeReply)(void* reply);
    void (*Free)(redisContext* c);
};

// The library's functions, or null when it cannot be loaded (then every later call answers null
// at once: the loader is asked only once per process).
const THiredis* Hiredis() noexcept;

// The file name the loader is asked for, for log lines.
const char* HiredisLibraryName() noexcept;

}  // namespace velmora
