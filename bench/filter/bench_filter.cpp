// Template filter throughput: a 50 MB template with an entry every 100 bytes is filtered to an
// adaptor that discards the page, beside a memchr scan of the same bytes for "%" and "#".
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>

#include "FilterConditions.h"
#include "HAdaptor.h"
#include "HttpFileFilter.h"

using namespace velmora;

namespace {

constexpr size_t TemplateBytes = 50u * 1000 * 1000;
constexpr size_t EntryEvery = 100;
constexpr int Rounds = 5;

volatile size_t gDiscarded = 0;

void Discard(const std::string& s) { gDiscarded = gDiscarded + s.size(); }

std::string Variable(const std::string& name) {
    if (name == "REMOTE_ADDR") return "10.0.0.1";
    if (name == "SERVER_NAME") return "www.example.com";
    return {};
}

std::string FormField(const std::string& name, const std::string& def) {
    if (name == "email") return "anna@example.com";
    if (name == "name") return "Anna & Bob";  // one value that needs escaping
    return def;
}

// 100-byte units of HTML-like text, each ending in one entry; the entries take turns.
std::string MakeTemplate() {
    const char* entries[] = {"%REMOTE_ADDR%", "#email#", "%SERVER_NAME%", "#name#"};
    const std::string prose =
        "<p class=\"note\">Thank you for writing to us; we answer every message within two days. ";
    std::string text;
    text.reserve(TemplateBytes + EntryEvery);
    for (size_t unit = 0; text.size() < TemplateBytes; ++unit) {
        std::string entry = entries[unit % 4];
        text.append(prose, 0, EntryEvery - entry.size());
        text += entry;
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

// Best of Rounds, in seconds.
double Best(const std::function<void()>& run) {
    double best = 1e9;
    for (int r = 0; r < Rounds; ++r) {
        auto t0 = std::chrono::steady_clock::now();
        run();
        std::chrono::duration<double> d = std::chrono::steady_clock::now() - t0;
        best = std::min(best, d.count());
    }
    return best;
}

double MBps(size_t bytes, double seconds) { return bytes / 1e6 / seconds; }

}  // namespace

int main() {
    AdaptorTable().Write = Discard;
    AdaptorTable().GetVariable = Variable;
    AdaptorTable().GetFormField = FormField;

    std::string text = MakeTemplate();
    THttpFileFilter filter;
    filter.SetName("bench");

    size_t hits = 0;
    double scan = Best([&] { hits = MemchrScan(text); });
    double whole = Best([&] {
        FilterConditions().Reset();
        filter.FilterText(text);
    });

    std::string path = "/tmp/velmora-bench-filter-" + std::to_string(::getpid()) + ".htm";
    std::ofstream(path, std::ios::binary) << text;
    filter.SetFileName(path);
    double file = Best([&] { filter.Execute(); });
    std::remove(path.c_str());

    std::printf("template: %zu bytes, %zu delimiters, an entry every %zu bytes\n", text.size(), hits,
                EntryEvery);
    std::printf("memchr scan for %% and #   %8.1f MB/s  (the limit)\n", MBps(text.size(), scan));
    std::printf("FilterText, one block     %8.1f MB/s  ratio %.2f\n", MBps(text.size(), whole), scan / whole);
    std::printf("Execute, 255-byte pieces  %8.1f MB/s  ratio %.2f\n", MBps(text.size(), file), scan / file);
    return 0;
}
