// libFuzzer target: one standard CGI request from hostile input. The input's first line is
// CONTENT_LENGTH, its second CONTENT_TYPE, the rest the body that standard input delivers.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "CgiSEng.h"

using namespace velmora;

namespace {

std::string NextLine(std::string& rest) {
    size_t p = rest.find('\n');
    std::string line = rest.substr(0, p);
    rest = p == std::string::npos ? std::string() : rest.substr(p + 1);
    // Environment values end at a zero byte.
    return line.substr(0, line.find('\0'));
}

const std::string& UploadDir() {
    static const std::string dir = [] {
        char tmpl[] = "/tmp/velmora-fuzz-cgi-XXXXXX";
        return std::string(::mkdtemp(tmpl));
    }();
    return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string rest(reinterpret_cast<const char*>(data), size);
    ::setenv("CONTENT_LENGTH", NextLine(rest).c_str(), 1);
    ::setenv("CONTENT_TYPE", NextLine(rest).c_str(), 1);
    ::setenv("SERVER_SOFTWARE", "fuzz", 1);
    ::setenv("CGI_LOG_DIR", UploadDir().c_str(), 1);
    auto in = std::make_unique<TMemoryStream>();
    in->WriteString(rest);
    in->SetPosition(0);
    CGIRequestState().InputStream = std::move(in);
    CGIRequestState().OutputStream = std::make_unique<TMemoryStream>();
    {
        TComponent owner;
        new TCGIStdEngine(&owner, false, NormalMode, false, false, false, UploadDir(), "S", 10000,
                          true, "text/html", true, nullptr, nullptr,
                          [](TObject* sender) {
                              auto* e = static_cast<TCGIStdEngine*>(sender);
                              std::unique_ptr<TStringList> names = e->GetFormFieldNames();
                              for (const std::string& n : *names) e->Write(e->GetFormField(n, ""));
                          },
                          nullptr);
    }
    RequestState().CurrentEngine = nullptr;
    // Every upload file must be gone with its request.
    for (const auto& f : std::filesystem::directory_iterator(UploadDir()))
        if (f.path().extension() == ".tmp") abort();
    return 0;
}
