// Fuzz target of the multipart decoder. Input: 7 control bytes, then the body. The control bytes
// pick the ring size, four read chunk sizes, a wrong CONTENT_LENGTH and a failing read; the body is
// decoded through a fake client, then again in whole reads, and both results must agree. Every
// upload file must lie in the temporary folder and be listed; the folder is emptied after each run.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "DecodeHelper.h"

using namespace velmora;
using namespace velmora::test;
namespace fs = std::filesystem;

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

// Never destroyed, so that the exit handler that removes the folder can still read its name.
const std::string& UploadDir() {
    static const std::string* dir = [] {
        auto* d = new std::string("/tmp/fuzz_multipart." + std::to_string(::getpid()));
        fs::create_directories(*d);
        std::atexit([] { fs::remove_all(UploadDir()); });
        return d;
    }();
    return *dir;
}

struct Setup {
    int Ring;
    std::vector<int> Chunks;
    std::string ContentLength;
    long FailAt;
};

Setup ReadSetup(const uint8_t* c, const std::string& body) {
    static const int kRings[] = {1024, 2048, 4096, MultipartRingSize};
    Setup s;
    s.Ring = kRings[c[0] & 3];
    s.Chunks = {c[1] + 1, c[2] + 1, (c[3] + 1) * 16, (c[4] + 1) * 64};
    s.ContentLength = std::to_string(body.size());
    if (c[0] & 4) s.ContentLength = std::to_string(static_cast<long>(body.size()) + static_cast<int8_t>(c[5]));
    s.FailAt = (c[0] & 8) ? static_cast<long>(body.size() * c[6] / 256) : -1;
    return s;
}

Decoded Run(const std::string& body, const Setup& s, bool chunked) {
    FakeClientBody fake(body);
    fake.ContentLength = s.ContentLength;
    fake.FailAt = s.FailAt;
    if (chunked) fake.Chunks = s.Chunks;
    Decoded d = Decode(fake, UploadDir(), s.Ring);
    for (size_t i = 0; i < d.Paths.size(); ++i) {
        Check(fs::path(d.Paths[i]).parent_path() == fs::path(UploadDir()));
        Check(d.Existed[i]);
    }
    Check(fs::is_empty(UploadDir()));
    return d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    if (size < 7) return 0;
    const std::string body(reinterpret_cast<const char*>(bytes) + 7, size - 7);
    const Setup s = ReadSetup(bytes, body);
    const Decoded chunked = Run(body, s, true);
    const Decoded whole = Run(body, s, false);
    Check(chunked.Normal == whole.Normal);
    Check(chunked.Outcome == whole.Outcome);
    // A refused form leaves nothing to mail: no field can go out while another is missing.
    Check(chunked.Outcome == TMultipartOutcome::Decoded || chunked.Data.empty());
    Check(chunked.Contents == whole.Contents);
    return 0;
}
