// Test helper: counts requests in a settings file from several threads of one process, all
// starting when a go-file appears, so that many such processes update the file at the same moment.
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <thread>
#include <vector>

#include "SettingsFile.h"

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    std::string path = argv[1], go = argv[2];
    int threads = std::atoi(argv[3]);
    while (::access(go.c_str(), F_OK) != 0) ::usleep(1000);
    std::vector<std::thread> pool;
    std::atomic<int> failures{0};
    for (int i = 0; i < threads; ++i)
        pool.emplace_back([&] {
            // A stale error number left by earlier calls must not be taken for the file's.
            errno = ENOENT;
            auto r = velmora::UpdateSettingsFile(path, [](velmora::TMailSettings& s, size_t) {
                s.SetCounter(s.Counter() + 1);
            });
            if (r.Found != velmora::TSettingsFound::Record) ++failures;  // the file was missing: must never happen
        });
    for (auto& t : pool) t.join();
    return failures == 0 ? 0 : 1;
}
