// Fuzz target for the mail sender's handling of outside text: a relay's reply stream and its EHLO
// capabilities, and form values that become address lists, header text, attachment names and the
// encoded body.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "MailDecode.h"
#include "MailEncoding.h"
#include "JsonText.h"
#include "MailText.h"
#include "MimeParts.h"
#include "SmtpCapabilities.h"
#include "SmtpReply.h"
#include "SysUtils.h"

using namespace velmora;

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

void CheckReplies(const std::string& in) {
    size_t n = CompleteReplyLength(in);
    Check(n <= in.size());
    if (n == 0 || n > kMaxReplyLength) return;
    Check(CompleteReplyLength(in.substr(0, n - 1)) == 0);  // no shorter prefix is a whole reply
    int code = ReplyCodeOf(in.substr(0, n));
    Check(code == -1 || (code >= 0 && code <= 999));
}

bool Same(const TSmtpCapabilities& a, const TSmtpCapabilities& b) {
    return a.StartTls == b.StartTls && a.AuthPlain == b.AuthPlain && a.AuthLogin == b.AuthLogin;
}

// A capability is only ever read from a keyword that is there, and only from the reply itself:
// what a relay (or someone between) sends after the reply's last line changes nothing.
void CheckCapabilities(const std::string& in) {
    TSmtpCapabilities caps = ParseCapabilities(in);
    std::string upper = UpperCase(in);
    if (caps.StartTls) Check(upper.find("STARTTLS") != std::string::npos);
    if (caps.AuthPlain) Check(upper.find("AUTH") != std::string::npos && upper.find("PLAIN") != std::string::npos);
    if (caps.AuthLogin) Check(upper.find("AUTH") != std::string::npos && upper.find("LOGIN") != std::string::npos);
    size_t n = CompleteReplyLength(in);
    if (n == 0 || n > kMaxReplyLength) return;
    Check(Same(caps, ParseCapabilities(in.substr(0, n))));
    Check(Same(caps, ParseCapabilities(in.substr(0, n) + "250-x\r\n250 STARTTLS\r\n250 AUTH PLAIN LOGIN\r\n")));
}

void CheckValues(const std::string& in) {
    for (bool names : {false, true})
        for (char c : SafeAddressList(in, names)) Check(!IsControl(c));
    for (char c : BlankControlChars(in)) Check(!IsControl(c));
    std::string header = ReplacePlaceholder("Subject: %SUBJECT%\r\n", "%subject%", BlankControlChars(in));
    Check(header.find("\r\n") == header.size() - 2);
}

void CheckBody(const std::string& in) {
    std::string qp = EncodeQuotedPrintable(in);
    bool ok = true;
    Check(test::DecodeQuotedPrintable(qp, &ok) == in && ok);
    size_t start = 0;
    for (size_t end; (end = qp.find("\r\n", start)) != std::string::npos; start = end + 2)
        Check(end - start <= 76);
    Check(qp.size() - start <= 76);
    for (char c : qp) Check(c == '\r' || c == '\n' || c == '\t' || !IsControl(c));

    // Sent without an encoding: no line of the stuffed text may end the DATA phase, and taking
    // the doubled dots away again gives the normalised text back.
    std::string text = NormalizeLineBreaks(in);
    std::string stuffed = DotStuff(text, true);
    Check(stuffed.rfind(".\r\n", 0) != 0 && stuffed.find("\r\n.\r\n") == std::string::npos);
    std::string unstuffed;
    bool lineStart = true;
    for (size_t i = 0; i < stuffed.size(); ++i) {
        if (!(lineStart && stuffed[i] == '.')) unstuffed += stuffed[i];
        lineStart = stuffed[i] == '\n';
    }
    Check(unstuffed == text);
}

// A visitor's file name becomes header lines of printable ASCII, each short enough for any
// relay, and the name a reader shows holds no control that could reorder or hide its text.
void CheckAttachmentName(const std::string& in) {
    const std::string header = AttachmentPartHeader(in);
    Check(header.size() >= 4 && header.compare(header.size() - 4, 4, "\r\n\r\n") == 0);
    size_t start = 0;
    for (size_t end; (end = header.find("\r\n", start)) != std::string::npos && end + 2 < header.size(); start = end + 2) {
        Check(end - start <= 998);
        for (size_t i = start; i < end; ++i)
            Check(static_cast<unsigned char>(header[i]) >= 0x20 && static_cast<unsigned char>(header[i]) < 0x7F);
    }
    const std::string shown = CleanAttachmentName(in);
    Check(!shown.empty() && IsValidUtf8(shown));
    for (const char* hidden : {"\xE2\x80\xAE", "\xE2\x80\xAA", "\xE2\x81\xA6", "\xE2\x81\xA9", "\xC2\x85"})
        Check(shown.find(hidden) == std::string::npos);
    for (char c : shown) Check(!IsControl(c));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string in(reinterpret_cast<const char*>(data), size);
    CheckReplies(in);
    CheckCapabilities(in);
    CheckValues(in);
    CheckBody(in);
    CheckAttachmentName(in.substr(0, 4096));
    return 0;
}
