// The attachment part's header for the names visitors and sites give files: every line short and
// printable, and the whole name readable from the RFC 2231 form whenever the fallback had to cut it.
#include <gtest/gtest.h>

#include <string>

#include "MimeParts.h"

using namespace velmora;

namespace {

// The name an RFC 2231 reader puts together from the filename* parameters; "" when there are none.
std::string ExtendedName(const std::string& header) {
    std::string encoded;
    for (size_t at = header.find(" filename*"); at != std::string::npos; at = header.find(" filename*", at + 1)) {
        size_t value = header.find('=', at) + 1, end = header.find_first_of(";\r", value);
        std::string piece = header.substr(value, end - value);
        if (piece.rfind("UTF-8''", 0) == 0) piece.erase(0, 7);
        encoded += piece;
    }
    std::string name;
    for (size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] == '%' && i + 2 < encoded.size()) {
            name += static_cast<char>(std::stoi(encoded.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            name += encoded[i];
        }
    }
    return name;
}

}  // namespace

TEST(AttachmentPartHeader, LinesStayShortAndTheWholeNameReadable) {
    const struct {
        const char* Case;
        std::string Name;
        bool Extended;  // the name needs the RFC 2231 form
    } rows[] = {
        {"short ASCII", "report.pdf", false},
        {"beyond ASCII", "K\xC3\xB6ln.txt", true},
        {"4,000 backslashes, each escaped in the fallback", std::string(4000, '\\'), true},
        {"1,000 letters", std::string(1000, 'a') + ".txt", true},
        {"quotes up to the fallback's end", std::string(199, 'b') + "\"c", true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.Case);
        const std::string header = AttachmentPartHeader(r.Name);
        for (size_t start = 0, end; (end = header.find("\r\n", start)) != std::string::npos; start = end + 2) {
            EXPECT_LE(end - start, 300u);
            for (size_t i = start; i < end; ++i) EXPECT_TRUE(header[i] >= 0x20 && header[i] < 0x7F) << i;
        }
        EXPECT_EQ(ExtendedName(header), r.Extended ? r.Name : "");
        // The fallback is a whole quoted string: an escape is never cut in two.
        const size_t open = header.find(" filename=\"") + 11, close = header.find("\"\r\n\r\n");
        const std::string fallback = header.substr(open, close - open);
        EXPECT_LE(fallback.size(), 200u);
        for (size_t i = 0; i < fallback.size(); ++i) {
            if (fallback[i] == '\\') {
                EXPECT_LT(++i, fallback.size()) << "an escape cut in two";
            } else {
                EXPECT_NE(fallback[i], '"') << i;
            }
        }
        if (!r.Extended) {
            EXPECT_EQ(fallback, r.Name);
        }
    }
}
