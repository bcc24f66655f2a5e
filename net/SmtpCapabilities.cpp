// Parsing the EHLO reply: each line after the first names one extension and its parameters;
// only the lines of the reply itself count, so text after its final line is never read.
#include "SmtpCapabilities.h"

#include "SmtpReply.h"
#include "SysUtils.h"

namespace velmora {

namespace {

// The blank-separated words of one extension line, after "250-" or "250 ".
void ReadLine(const std::string& line, TSmtpCapabilities& caps) {
    std::string text = UpperCase(line);
    for (char& c : text)
        if (c == '=' || c == '\t') c = ' ';  // "AUTH=LOGIN PLAIN", from before RFC 4954
    size_t start = text.find_first_not_of(' ');
    if (start == std::string::npos) return;
    size_t end = text.find(' ', start);
    std::string keyword = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (keyword == "STARTTLS") caps.StartTls = true;
    if (keyword == "PIPELINING") caps.Pipelining = true;
    if (keyword != "AUTH") return;
    while (end != std::string::npos) {
        start = text.find_first_not_of(' ', end);
        if (start == std::string::npos) break;
        end = text.find(' ', start);
        std::string mechanism = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (mechanism == "PLAIN") caps.AuthPlain = true;
        if (mechanism == "LOGIN") caps.AuthLogin = true;
    }
}

}  // namespace

TSmtpCapabilities ParseCapabilities(const std::string& reply) {
    TSmtpCapabilities caps;
    std::string text = reply.substr(0, CompleteReplyLength(reply));
    size_t start = text.find('\n');  // the first line greets; it names no extension
    while (start != std::string::npos && start + 1 < text.size()) {
        size_t lineStart = start + 1;
        size_t lf = text.find('\n', lineStart);
        std::string line = text.substr(lineStart, lf == std::string::npos ? std::string::npos : lf - lineStart);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() >= 4 && line.compare(0, 3, text, 0, 3) == 0 && (line[3] == '-' || line[3] == ' ')) ReadLine(line.substr(4), caps);
        start = lf;
    }
    return caps;
}

}  // namespace velmora
