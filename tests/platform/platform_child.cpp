// Helper process of the platform tests: holds an exclusive file open or a window title until its
// input ends, or reports how it was started (session, standard streams, descriptors, signals).
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "Streams.h"
#include "WindowTitle.h"

using namespace velmora;

static void WaitForEndOfInput() {
    char c;
    while (::read(0, &c, 1) > 0) {
    }
}

static bool IsDevNull(int fd) {
    struct stat a, b;
    return ::fstat(fd, &a) == 0 && ::stat("/dev/null", &b) == 0 && S_ISCHR(a.st_mode) && a.st_rdev == b.st_rdev;
}

static int OpenDescriptorsAbove2() {
    int n = 0;
    DIR* d = ::opendir("/proc/self/fd");
    if (!d) return -1;
    const int own = ::dirfd(d);
    while (dirent* e = ::readdir(d)) {
        int fd = std::atoi(e->d_name);
        if (e->d_name[0] != '.' && fd > 2 && fd != own) ++n;
    }
    ::closedir(d);
    return n;
}

// Written to a temporary name and renamed, so the test never reads a half-written report.
static int Report(const std::string& path) {
    struct sigaction sa {};
    ::sigaction(SIGPIPE, nullptr, &sa);
    const int extraFds = OpenDescriptorsAbove2();  // before the report file itself is open
    {
        std::ofstream out(path + ".part");
        out << "session_leader " << (::getsid(0) == ::getpid()) << "\n"
            << "stdin_null " << IsDevNull(0) << "\n"
            << "stdout_null " << IsDevNull(1) << "\n"
            << "stderr_null " << IsDevNull(2) << "\n"
            << "extra_fds " << extraFds << "\n"
            << "sigpipe_default " << (sa.sa_handler == SIG_DFL) << "\n";
    }
    return std::rename((path + ".part").c_str(), path.c_str()) == 0 ? 0 : 1;
}

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    const std::string mode = argv[1], arg = argv[2];
    if (mode == "report") return Report(arg);
    if (mode == "lock") {
        TFileStream f(arg, fmOpenReadWrite | fmShareExclusive);
        std::cout << "ready" << std::endl;
        WaitForEndOfInput();
        return 0;
    }
    if (mode == "title") {
        TWindowTitle w;
        std::cout << (w.SetTitle(arg) ? "ready" : "failed") << std::endl;
        WaitForEndOfInput();
        return 0;
    }
    return 2;
}
