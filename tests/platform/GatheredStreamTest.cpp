// TGatheredStream: the bytes reach the target whole and in order, in as few writes as the limit
// allows, and a target that stops taking bytes is reported rather than hidden.
#include <gtest/gtest.h>

#include <vector>

#include "GatheredStream.h"

using namespace velmora;

namespace {

// Records each write it gets; takes at most Room bytes in all.
class TRecordingStream : public TStream {
public:
    TRecordingStream(std::vector<std::string>& writes, size_t room) : FWrites(writes), FRoom(room) {}
    long Read(void*, long) override { return 0; }
    long Write(const void* buffer, long count) override {
        const size_t n = std::min(static_cast<size_t>(count), FRoom);
        FRoom -= n;
        FWrites.emplace_back(static_cast<const char*>(buffer), n);
        return static_cast<long>(n);
    }
    int64_t Seek(int64_t, TSeekOrigin) override { return 0; }
    void SetSize(int64_t) override {}

private:
    std::vector<std::string>& FWrites;
    size_t FRoom;
};

TEST(GatheredStream, WritesReachTheTargetWholeInOrderAndInFewPieces) {
    struct Case {
        const char* name;
        std::vector<std::string> pieces;
        size_t room;
        std::vector<std::string> want;  // the target's writes, in order
        bool flushed;                   // what the final Flush reports
    } cases[] = {
        {"pieces up to the limit leave together", {"200\r\n", "\r\n", "<p>"}, 100, {"200\r\n\r\n<p>"}, true},
        {"a piece that would go past the limit sends what is held first", {"abcdef", "ghijk", "l"}, 100,
         {"abcdef", "ghijkl"}, true},
        {"a piece of the limit or more passes straight after what is held", {"ab", "0123456789", "c"}, 100,
         {"ab", "0123456789", "c"}, true},
        {"a target that takes less is reported", {"abc", "def"}, 4, {"abcdef"}, false},
    };
    for (const Case& c : cases) {
        std::vector<std::string> writes;
        TGatheredStream out(std::make_unique<TRecordingStream>(writes, c.room), 10);
        for (const std::string& piece : c.pieces)
            EXPECT_EQ(out.Write(piece.data(), static_cast<long>(piece.size())), static_cast<long>(piece.size()))
                << c.name;
        EXPECT_EQ(out.Flush(), c.flushed) << c.name;
        std::string got;
        for (const std::string& w : writes) got += w;
        if (c.flushed) EXPECT_EQ(writes, c.want) << c.name;
        else EXPECT_EQ(got, std::string("abcdef").substr(0, c.room)) << c.name;
    }
}

TEST(GatheredStream, FreeingTheStreamPassesOnWhatIsHeld) {
    std::vector<std::string> writes;
    {
        TGatheredStream out(std::make_unique<TRecordingStream>(writes, 100));
        out.WriteString("status\r\n");
        out.WriteString("body");
        EXPECT_TRUE(writes.empty());
    }
    EXPECT_EQ(writes, std::vector<std::string>{"status\r\nbody"});
}

}  // namespace
