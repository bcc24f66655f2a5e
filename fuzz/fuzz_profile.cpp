// libFuzzer target: a hostile profile file. The input is the profile; it is read, then every
// field it lists and a few variables are looked up as the profile-file engine does for a request.
// External fields may name the small files this target keeps in a fixed folder (see the seeds).
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "CgiWEng.h"
#include "ProfileFormFields.h"

using namespace velmora;

namespace {

const char* const kFieldDir = "/tmp/velmora-fuzz-profile";

TCGIWinEngine& Engine() {
    static TComponent owner;
    // Never active: it only answers look-ups over the thread's profile.
    static TCGIWinEngine* engine = [] {
        CgiWEngStartup();  // first, or the constructor's own call would decide the process's role
        WinCGIStart = false;
        return new TCGIWinEngine(&owner, false, NormalMode, false, false, false, kFieldDir, "S", 10000, true,
                                 "text/html", true, nullptr, nullptr, nullptr, nullptr);
    }();
    return *engine;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ::mkdir(kFieldDir, 0700);
    std::ofstream(std::string(kFieldDir) + "/e1", std::ios::binary) << "first line\r\nsecond";
    std::ofstream(std::string(kFieldDir) + "/e2", std::ios::binary) << std::string("cut\0here", 8);
    ::setenv("CGI_LOG_DIR", kFieldDir, 1);
    Engine();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryStream in;
    in.WriteBuffer(data, static_cast<long>(size));
    in.SetPosition(0);
    TCGIWinRequestState& st = CGIWinRequestState();
    try {
        st.IniFile = std::make_unique<TCGIIniFile>(in);
    } catch (const EReadError&) {
        return 0;  // over the size limit
    }
    if (st.IniFile->Sections().size() > static_cast<size_t>(TCGIIniFile::MaxSections)) abort();
    TCGIWinEngine& e = Engine();
    std::unique_ptr<TStringList> names = e.GetFormFieldNames();
    for (const std::string& n : *names) {
        // The engine's answer and the look-up's own must agree for a POST's profile fields.
        if (e.GetRequestMethod() == "POST" && e.GetFormField(n, "") != ProfileFormField(*st.IniFile, n, ""))
            abort();
    }
    for (const char* v : {"REQUEST_METHOD", "Content Length", "SCRIPT_NAME", "Output File", "HTTP COOKIE",
                          "HTTP_ACCEPT", "HTTP_ORIGIN", "HTTP_ACCEPT_LANGUAGE"})
        e.GetVariable(v);
    e.GetHttpCookie();
    e.GetContentLength();
    st.IniFile.reset();
    return 0;
}
