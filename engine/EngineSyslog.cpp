// The log line in the system log's form: what WriteLog hands to the syslog socket when a site sends
// its log there. Kept apart from the file's form so that both read the same text and request id.
#include "HttpEng.h"

namespace velmora {

namespace {

// Facility mail (2) and severity info (6): where a mail administrator's filters look.
constexpr int kPriority = 2 * 8 + 6;
// RFC 3164 allows 1024 bytes a line; every daemon in use takes more, but a few KB is where some
// cut without saying. A message longer than this is cut and marked.
constexpr size_t kMaxText = 4000;
// The tag is at most 32 letters, digits and a few marks, or daemons misread where the text starts.
constexpr size_t kMaxTag = 32;

std::string Tag(const std::string& programName) {
    std::string tag;
    for (char c : programName) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                     c == '_' || c == '.';
        if (plain && tag.size() < kMaxTag) tag += c;
    }
    return tag.empty() ? "velmora" : tag;
}

// "Dec  8 01:24:09": English month names whatever the locale, the day padded with a blank.
std::string Timestamp(TDateTime now) {
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    TDateParts p = DecodeDateTime(now);
    auto two = [](int n) { return std::string(n < 10 ? "0" : "") + std::to_string(n); };
    std::string day = (p.Day < 10 ? " " : "") + std::to_string(p.Day);
    return std::string(months[(p.Month + 11) % 12]) + " " + day + " " + two(p.Hour) + ":" + two(p.Minute) + ":" +
           two(p.Second);
}

}  // namespace

std::string SyslogLine(TDateTime now, const std::string& programName, int processId, int requestId,
                       const std::string& text) {
    std::string body = text;
    if (body.size() > kMaxText) {
        size_t keep = kMaxText;
        // Never half a UTF-8 character: a daemon that checks the encoding would drop the line.
        while (keep > kMaxText - 3 && (static_cast<unsigned char>(body[keep]) & 0xC0) == 0x80) --keep;
        body = body.substr(0, keep) + "...[cut, " + std::to_string(text.size()) + " bytes]";
    }
    return "<" + std::to_string(kPriority) + ">" + Timestamp(now) + " " + Tag(programName) + "[" +
           std::to_string(processId) + "]: " + std::to_string(requestId) + " : " + body;
}

}  // namespace velmora
