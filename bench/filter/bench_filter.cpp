// Template filter throughput: a 50 MB template with an entry every 100 bytes is filtered to an
// adaptor that discards the page, beside a memchr scan of the same bytes for "%" and "#".
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "FilterConditions.h"
#include "HAdaptor.h"
#include "HttpFileFilter.h"

using namespace velmora;

namespace {

constexpr size_t TemplateBytes = 50u * 1000 * 1000;
constexpr size_t EntryEvery = 100;
constexpr int Rounds = 9;

volatile size_t gDiscarded = 0;

void Discard(const std::string& s) { gDiscarded = gDiscarded + s.size(); }

// A small engine: a few variables and fields, looked up by exact name.
std::string Variable(const std::string& name) {
    std::string_view n = name;
    if (n == "REMOTE_ADDR") return "10.0.0.1";
    if (n == "SERVER_NAME") return "www.example.com";
    return {};
}

std::string FormField(const std::string& name, const std::string& def) {
    std::string_view n = name;
    if (n == "email") return "anna@example.com";
    if (n == "name") return "Anna & Bob";  // one value that needs escaping
    return def;
}

// 100-byte units of HTML-like text, each ending in one entry; the entries take turns. pageBytes
// becomes the size of the page the filter must write for it.
std::string MakeTemplate(size_t& pageBytes) {
    const char* entries[] = {"%REMOTE_ADDR%", "#email#", "%SERVER_NAME%", "#name#"};
    const std::string values[] = {"10.0.0.1", "anna@example.com", "www.example.com", "Anna &amp; Bob"};
    const std::string prose =
        "<p class=\"note\">Thank you for writing to us; we answer every message within two days, "
        "and often sooner. ";
    std::string text;
    text.reserve(TemplateBytes + EntryEvery);
    pageBytes = 0;
    for (size_t unit = 0; text.size() < TemplateBytes; ++unit) {
        std::string entry = entries[unit % 4];
        text.append(prose, 0, EntryEvery - entry.size());  // prose is longer than any cut
        text += entry;
        pageBytes += EntryEvery - entry.size() + values[unit % 4].size();
    }
    return text;
}

size_t MemchrScan(const std::string& text) {
    size_t hits = 0;
    for (char c : {'%', '#'}) {
        const char* p = text.data();
        const char* end = p + text.size();
        while ((p = static_cast<const char*>(std::memchr(p, c, static_cast<size_t>(end - p))))) {
            ++hits;
            ++p;
        }
    }
    return hits;
}

// Runs the measurements in turn, Rounds times, and keeps each one's best time in seconds.
// Taking turns gives every measurement the same share of a busy machine's quiet moments.
std::vector<double> BestInTurns(const std::vector<std::function<void()>>& runs) {
    std::vector<double> best(runs.size(), 1e9);
    for (int r = 0; r < Rounds; ++r) {
        for (size_t k = 0; k < runs.size(); ++k) {
            auto t0 = std::chrono::steady_clock::now();
            runs[k]();
            std::chrono::duration<double> d = std::chrono::steady_clock::now() - t0;
            best[k] = std::min(best[k], d.count());
        }
    }
    return best;
}

// Every byte of the page must have reached the adaptor; the count starts again for the next run.
void CheckPage(size_t want, const char* run) {
    if (gDiscarded != want) {
        std::fprintf(stderr, "%s wrote %zu bytes instead of %zu\n", run, static_cast<size_t>(gDiscarded), want);
        std::exit(1);
    }
    gDiscarded = 0;
}

double MBps(size_t bytes, double seconds) { return bytes / 1e6 / seconds; }

}  // namespace

// An optional argument "text" leaves out the file measurement (for a profiler).
int main(int argc, char** argv) {
    bool textOnly = argc > 1 && std::string(argv[1]) == "text";
    AdaptorTable().Write = Discard;
    AdaptorTable().GetVariable = Variable;
    AdaptorTable().GetFormField = FormField;

    size_t pageBytes = 0;
    std::string text = MakeTemplate(pageBytes);
    THttpFileFilter filter;
    filter.SetName("bench");
    std::string path = "/tmp/velmora-bench-filter-" + std::to_string(::getpid()) + ".htm";
    if (!textOnly) std::ofstream(path, std::ios::binary) << text;
    filter.SetFileName(path);

    size_t hits = 0;
    std::vector<std::function<void()>> runs = {
        [&] { hits = MemchrScan(text); },
        [&] {
            FilterConditions().Reset();
            filter.FilterText(text);
            CheckPage(pageBytes, "FilterText");
        },
    };
    if (!textOnly)
        runs.push_back([&] {
            filter.Execute();
            CheckPage(pageBytes, "Execute");
        });
    std::vector<double> best = BestInTurns(runs);
    if (!textOnly) std::remove(path.c_str());

    std::printf("template: %zu bytes, %zu delimiters, an entry every %zu bytes, best of %d\n", text.size(),
                hits, EntryEvery, Rounds);
    std::printf("memchr scan for %% and #   %8.1f MB/s  (the limit)\n", MBps(text.size(), best[0]));
    std::printf("FilterText, one block     %8.1f MB/s  ratio %.2f\n", MBps(text.size(), best[1]),
                best[0] / best[1]);
    if (!textOnly)
        std::printf("Execute, 255-byte pieces  %8.1f MB/s  ratio %.2f\n", MBps(text.size(), best[2]),
                    best[0] / best[2]);
    return 0;
}
