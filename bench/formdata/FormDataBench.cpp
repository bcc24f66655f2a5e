// Benchmark of form data decoding: a multipart body with one large file part streamed through the
// ring to its upload file, beside a plain copy of the same bytes; FindFormValue in a 1 MB form;
// and every field of forms of growing size, scanned and indexed.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/resource.h>
#include <string>
#include <vector>

#include "FormData.h"
#include "HAdaptor.h"
#include "Multipart.h"
#include "Streams.h"

using namespace velmora;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kReadSize = 64 * 1024;
const std::string kBoundary = "------WebKitFormBoundaryuqRAvhHwHaiU6YaY";

// The request body, made on the fly so that it costs no memory: head, file content from a
// repeated 1 MiB block of random bytes, tail. Reads hand out at most 64 KiB.
class BodySource {
public:
    explicit BodySource(int64_t fileSize) : FFileSize(fileSize) {
        std::mt19937 rnd(1);
        FBlock.resize(1 << 20);
        for (char& c : FBlock) c = static_cast<char>(rnd());
        FHead = kBoundary + "\r\nContent-Disposition: form-data; name=\"upload\"; filename=\"big.bin\"\r\n"
                            "Content-Type: application/octet-stream\r\n\r\n";
        FTail = "\r\n" + kBoundary + "--\r\n";
    }
    int64_t Size() const { return static_cast<int64_t>(FHead.size()) + FFileSize + static_cast<int64_t>(FTail.size()); }
    void Rewind() { FPos = 0; }

    int Read(char* out, int count) {
        int n = static_cast<int>(std::min<int64_t>({int64_t{count}, int64_t{kReadSize}, Size() - FPos}));
        for (int done = 0; done < n;) {
            int64_t p = FPos + done;
            int64_t headEnd = static_cast<int64_t>(FHead.size()), fileEnd = headEnd + FFileSize;
            int take;
            if (p < headEnd) {
                take = static_cast<int>(std::min<int64_t>(n - done, headEnd - p));
                std::memcpy(out + done, FHead.data() + p, static_cast<size_t>(take));
            } else if (p < fileEnd) {
                size_t off = static_cast<size_t>((p - headEnd) % static_cast<int64_t>(FBlock.size()));
                take = static_cast<int>(std::min<int64_t>({int64_t{n - done}, fileEnd - p, static_cast<int64_t>(FBlock.size() - off)}));
                std::memcpy(out + done, FBlock.data() + off, static_cast<size_t>(take));
            } else {
                take = n - done;
                std::memcpy(out + done, FTail.data() + (p - fileEnd), static_cast<size_t>(take));
            }
            done += take;
        }
        FPos += n;
        return n;
    }

    const std::string& Block() const { return FBlock; }

private:
    int64_t FFileSize;
    int64_t FPos = 0;
    std::string FBlock, FHead, FTail;
};

BodySource* gSource = nullptr;

int ReadClient(void* buffer, int count) { return gSource->Read(static_cast<char*>(buffer), count); }
std::string GetVariable(const std::string& name) {
    return name == "CONTENT_LENGTH" ? std::to_string(gSource->Size()) : std::string();
}

// Peak resident memory is reset before each measured run (Linux: 5 into clear_refs), then read.
void ResetPeakRss() { std::ofstream("/proc/self/clear_refs") << "5"; }
long PeakRssKiB() {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

// Processor time of this process (user and system), which other load on the machine disturbs
// less than the wall clock.
double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Result {
    double Seconds;
    double Cpu;
    long PeakKiB;
};

// Times fn by wall clock and processor time, with the peak resident memory reset before.
template <class F>
Result Measure(F fn) {
    ResetPeakRss();
    const double cpu0 = CpuSeconds();
    const auto t0 = Clock::now();
    fn();
    return {std::chrono::duration<double>(Clock::now() - t0).count(), CpuSeconds() - cpu0, PeakRssKiB()};
}

Result PlainCopy(BodySource& src, const std::string& path) {
    std::vector<char> buf(kReadSize);
    Result r = Measure([&] {
        TFileStream out(path, fmCreate);
        src.Rewind();
        for (int n; (n = src.Read(buf.data(), kReadSize)) > 0;) out.WriteBuffer(buf.data(), n);
    });
    fs::remove(path);
    return r;
}

Result Decode(BodySource& src, const std::string& dir, int64_t fileSize) {
    std::string data;
    TStringList uploads;
    Result r = Measure([&] {
        src.Rewind();
        ParseMultipart(data, dir, uploads);
    });
    // The upload file must hold the content whole: its size, and its first block compared.
    bool ok = uploads.Count() == 1 && static_cast<int64_t>(fs::file_size(uploads[0])) == fileSize;
    if (ok) {
        std::ifstream in(uploads[0], std::ios::binary);
        std::string first(src.Block().size(), '\0');
        in.read(first.data(), static_cast<std::streamsize>(first.size()));
        ok = first == src.Block();
    }
    for (const std::string& p : uploads) fs::remove(p);
    if (!ok) {
        std::fprintf(stderr, "decoded upload file is wrong\n");
        std::exit(1);
    }
    return r;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void MultipartBench(const std::string& dir, const std::vector<int64_t>& sizes, int kRuns) {
    AdaptorTable().ReadClient = &ReadClient;
    AdaptorTable().GetVariable = &GetVariable;
    std::printf("multipart: one file part, %d KiB reads, files in %s; %d runs each, copy and decoder\n"
                "alternating; MB/s from the median wall-clock time, and the median processor time per run\n",
                kReadSize / 1024, dir.c_str(), kRuns);
    for (int64_t mib : sizes) {
        BodySource src(mib << 20);
        gSource = &src;
        long copyPeak = 0, decPeak = 0;
        std::vector<double> copyWall, decWall, copyCpu, decCpu;
        for (int run = 0; run < kRuns; ++run) {
            Result c{}, d{};
            if (run % 2) {
                d = Decode(src, dir, mib << 20);
                c = PlainCopy(src, dir + "/plain-copy.bin");
            } else {
                c = PlainCopy(src, dir + "/plain-copy.bin");
                d = Decode(src, dir, mib << 20);
            }
            copyWall.push_back(c.Seconds);
            decWall.push_back(d.Seconds);
            copyPeak = std::max(copyPeak, c.PeakKiB);
            decPeak = std::max(decPeak, d.PeakKiB);
            copyCpu.push_back(c.Cpu);
            decCpu.push_back(d.Cpu);
        }
        const double mb = static_cast<double>(src.Size()) / 1e6;
        std::printf("  %3lld MiB  plain copy %6.0f MB/s, %.3f s cpu, peak RSS %5ld KiB | decoder %6.0f MB/s, %.3f s cpu, "
                    "peak RSS %5ld KiB | decoder/copy: wall %.2f, cpu %.2f\n",
                    static_cast<long long>(mib), mb / Median(copyWall), Median(copyCpu), copyPeak, mb / Median(decWall),
                    Median(decCpu), decPeak, Median(copyWall) / Median(decWall), Median(copyCpu) / Median(decCpu));
    }
}

void FindFormValueBench() {
    std::mt19937 rnd(2);
    std::string data;
    for (int i = 0; data.size() < 1000000; ++i) {
        std::string value;
        for (int k = 0; k < 70; ++k) value += static_cast<char>(32 + rnd() % 95);
        data += "field" + std::to_string(i) + "=" + URLEncode(value) + "&";
    }
    data += "last=found+it";
    int calls = 0;
    auto t0 = Clock::now();
    double elapsed = 0;
    std::string got;
    while (elapsed < 2.0) {
        got = FindFormValue("LAST", data, "-");
        ++calls;
        elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    }
    if (got != "found it") {
        std::fprintf(stderr, "FindFormValue found \"%s\"\n", got.c_str());
        std::exit(1);
    }
    std::printf("FindFormValue of the last field in a %zu-byte form: %.1f us per call (%d calls)\n", data.size(),
                elapsed * 1e6 / calls, calls);
}

// A program reads every field of a post once (the mail lists them all): the scan costs the
// square of the fields, the request's index a constant per look-up.
void EveryFieldBench() {
    for (int fields : {1000, 4000, 16000}) {
        std::string data;
        for (int i = 0; i < fields; ++i) data += "f" + std::to_string(i) + "=value+" + std::to_string(i) + "&";
        for (int indexed = 0; indexed < 2; ++indexed) {
            ForgetFormIndex();
            auto t0 = Clock::now();
            size_t total = 0;
            for (int i = 0; i < fields; ++i) {
                const std::string name = "f" + std::to_string(i);
                total += (indexed ? FindFormValueIndexed(name, data, "") : FindFormValue(name, data, "")).size();
            }
            const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
            if (total == 0) std::exit(1);
            std::printf("every field of a %d-field form, %s: %.1f ms\n", fields, indexed ? "indexed" : "scanned", ms);
        }
    }
}

}  // namespace

// formdata_bench [multipart|findformvalue|everyfield] [folder for the files] [MiB of one upload]
// A size given runs the multipart case once at that size (for callgrind).
int main(int argc, char** argv) {
    const std::string only = argc > 1 ? argv[1] : "";
    std::string dir = argc > 2 ? argv[2] : fs::temp_directory_path().string() + "/formdata-bench";
    fs::create_directories(dir);
    if (argc > 3) MultipartBench(dir, {std::stoll(argv[3])}, 1);
    else if (only.empty() || only == "multipart") MultipartBench(dir, {16, 256}, 7);
    if (only.empty() || only == "findformvalue") FindFormValueBench();
    if (only.empty() || only == "everyfield") EveryFieldBench();
    fs::remove_all(dir);
    return 0;
}
