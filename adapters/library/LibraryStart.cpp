// SetLibraryMain and StartLibrary: the deferred start of the program in a web server's process.
// Both objects here are constant-initialised, so the load hook may use them at any moment.
#include "LibraryStart.h"

#include <atomic>
#include <mutex>

#include "HttpEng.h"

namespace velmora {

namespace {

std::atomic<TLibraryMain> gLibraryMain{nullptr};
std::once_flag gLibraryStarted;

}  // namespace

void SetLibraryMain(TLibraryMain main) noexcept { gLibraryMain = main; }

void StartLibrary() noexcept {
    std::call_once(gLibraryStarted, [] {
        TLibraryMain main = gLibraryMain;
        if (!main) return;
        try {
            main();
        } catch (const std::exception& e) {
            WriteLog(std::string("Library start failed : ") + e.what());
        } catch (...) {
            WriteLog("Library start failed");
        }
    });
}

}  // namespace velmora
