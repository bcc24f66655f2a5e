// One stat per post: the cached automaton of a path is used while the file's stamp is unchanged. A
// changed file is read again and replaces it; posts already holding the old one finish with it.
#include "BlockedWordsFile.h"

#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "Files.h"
#include "FoldedText.h"

namespace velmora {

namespace {

// The blocked words file is the site's own, yet a huge one costs memory in every process.
constexpr size_t kMaxWordsFile = 1 << 20;

struct TCached {
    TFileStamp Stamp;
    std::shared_ptr<const TBlockedWords> Words;  // null: the file was refused, for Why
    std::string Why;
};

std::string ReadWordsFile(const std::string& path, std::string& why) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        why = "cannot be opened";
        return "";
    }
    std::string text;
    char block[8192];
    while (in.read(block, sizeof block) || in.gcount() > 0) {
        text.append(block, static_cast<size_t>(in.gcount()));
        if (text.size() > kMaxWordsFile) {
            why = "is larger than 1 MiB";
            return "";
        }
    }
    return text;
}

}  // namespace

std::vector<std::string> BlockedWordsOf(std::string_view fileText) {
    std::vector<std::string> words;
    std::istringstream lines{std::string(fileText)};
    for (std::string line; std::getline(lines, line);) {
        std::string word = FoldedText(line);
        if (!word.empty() && word[0] != '#') words.push_back(word);
    }
    return words;
}

std::shared_ptr<const TBlockedWords> BlockedWordsFile(const std::string& path, std::string& why) {
    static std::mutex lock;
    static std::map<std::string, TCached> cache;
    const TFileStamp stamp = GetFileStamp(path);
    if (!stamp.Exists) {
        why = "cannot be opened";
        return nullptr;
    }
    // Held while a changed file is built: the posts that wait for it would otherwise all build it.
    std::lock_guard<std::mutex> hold(lock);
    auto it = cache.find(path);
    if (it == cache.end() || it->second.Stamp != stamp) {
        std::string text = ReadWordsFile(path, why);
        auto words = why.empty() ? std::make_shared<const TBlockedWords>(BlockedWordsOf(text)) : nullptr;
        it = cache.insert_or_assign(path, TCached{stamp, words, why}).first;
    }
    why = it->second.Why;
    return it->second.Words;
}

}  // namespace velmora
