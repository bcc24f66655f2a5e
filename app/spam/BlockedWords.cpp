// Word boundaries are made part of the text: a mark goes before every word's first byte and after
// its last, in the post and in each blocked word alike, so "casino" (marked at both ends) never
// matches inside "occasinos", and any match the automaton reports is one on boundaries.
#include "BlockedWords.h"

#include <deque>

#include "FoldedText.h"

namespace velmora {

namespace {

// Folded text holds no control bytes: these two cannot come from a post.
constexpr unsigned char kWordStart = 0x01, kWordEnd = 0x02;

// Calls feed with each byte of text and the boundary marks between them.
template <typename F>
bool ForEachMarked(std::string_view text, F&& feed) {
    for (size_t i = 0; i < text.size(); ++i) {
        bool word = IsWordByte(text[i]);
        if (word && (i == 0 || !IsWordByte(text[i - 1])) && feed(kWordStart)) return true;
        if (feed(static_cast<unsigned char>(text[i]))) return true;
        if (word && (i + 1 == text.size() || !IsWordByte(text[i + 1])) && feed(kWordEnd)) return true;
    }
    return false;
}

}  // namespace

TBlockedWords::TBlockedWords(std::vector<std::string> words) : FNodes(1) {
    for (std::string& w : words) {
        if (w.empty()) continue;
        FWords.push_back(std::move(w));
        Insert(FWords.back(), static_cast<int32_t>(FWords.size() - 1));
    }
    LinkFailures();
}

uint32_t TBlockedWords::Child(uint32_t node, unsigned char c) const {
    for (const auto& [byte, next] : FNodes[node].Next)
        if (byte == c) return next;
    return 0;
}

void TBlockedWords::Insert(std::string_view word, int32_t index) {
    uint32_t node = 0;
    ForEachMarked(word, [&](unsigned char c) {
        uint32_t next = Child(node, c);
        if (next == 0) {
            next = static_cast<uint32_t>(FNodes.size());
            FNodes[node].Next.emplace_back(c, next);
            FNodes.emplace_back();
        }
        node = next;
        return false;
    });
    if (FNodes[node].Word < 0) FNodes[node].Word = index;
}

// Breadth first, so every node's fail link (the longest proper suffix in the trie) is known before
// its children's.
void TBlockedWords::LinkFailures() {
    std::deque<uint32_t> queue;
    for (const auto& [byte, next] : FNodes[0].Next) queue.push_back(next);
    while (!queue.empty()) {
        uint32_t node = queue.front();
        queue.pop_front();
        for (const auto& [byte, next] : FNodes[node].Next) {
            uint32_t fail = FNodes[node].Fail;
            while (fail != 0 && Child(fail, byte) == 0) fail = FNodes[fail].Fail;
            uint32_t target = Child(fail, byte);
            FNodes[next].Fail = target == next ? 0 : target;
            if (FNodes[next].Word < 0) FNodes[next].Word = FNodes[FNodes[next].Fail].Word;
            queue.push_back(next);
        }
    }
}

// Each fail step shortens the match, which grew by one byte per step: linear in the text overall.
uint32_t TBlockedWords::Step(uint32_t node, unsigned char c) const {
    for (;;) {
        if (uint32_t next = Child(node, c)) return next;
        if (node == 0) return 0;
        node = FNodes[node].Fail;
    }
}

std::string TBlockedWords::FindIn(std::string_view folded) const {
    if (FWords.empty()) return "";
    uint32_t node = 0;
    int32_t found = -1;
    ForEachMarked(folded, [&](unsigned char c) {
        node = Step(node, c);
        found = FNodes[node].Word;
        return found >= 0;
    });
    return found >= 0 ? FWords[static_cast<size_t>(found)] : "";
}

}  // namespace velmora
