// The site's blocked words as one automaton (Aho-Corasick): a post's text is searched for all of
// them in a single pass, so the cost grows with the post, not with the post times the list.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmora {

class TBlockedWords {
public:
    // words are folded (FoldedText); empty ones are skipped.
    explicit TBlockedWords(std::vector<std::string> words);

    // The first word (in text order) found in folded text on word boundaries: a word that starts or
    // ends with a word byte needs a non-word byte or the text's edge beside it. "" when none is.
    std::string FindIn(std::string_view folded) const;
    bool Empty() const noexcept { return FWords.empty(); }

private:
    struct TNode {
        uint32_t Fail = 0;
        int32_t Word = -1;  // a word ending here, on this node or one of its fail links
        std::vector<std::pair<unsigned char, uint32_t>> Next;
    };
    uint32_t Child(uint32_t node, unsigned char c) const;
    uint32_t Step(uint32_t node, unsigned char c) const;
    void Insert(std::string_view word, int32_t index);
    void LinkFailures();

    std::vector<TNode> FNodes;
    std::vector<std::string> FWords;
};

}  // namespace velmora
