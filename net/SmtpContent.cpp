// TSmtpSendMail's DATA text: the header from the template, the MIME multipart layout, the body
// (placeholders, transfer encoding, dot-stuffing) and the base64 attachments, sent in large pieces.
#include "HSmtp.h"

#include <algorithm>

#include "MailEncoding.h"
#include "MailText.h"
#include "MimeParts.h"
#include "Streams.h"
#include "SysUtils.h"
#include "System.h"

namespace velmora {

namespace {

constexpr size_t kFlushSize = 64 * 1024;
constexpr long kFileChunk = 48 * 1024;  // the encoder carries partial groups from read to read

// A placeholder name never holds a blank or a line break; "50%" and "60%" on two lines are text.
bool IsPlaceholderName(const std::string& s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) <= 0x20) return false;
    return true;
}

bool BeginsWithContent(const std::string& line) { return UpperCase(line).rfind("CONTENT", 0) == 0; }
bool IsMimeVersion(const std::string& line) { return UpperCase(line).rfind("MIME-VERSION", 0) == 0; }

}  // namespace

std::string TSmtpSendMail::HeaderText(std::string& partHeader) const {
    std::string header;
    bool multipart = FAttachments.Count() > 0;
    for (const std::string& line : FMailHeader) {
        if (Trim(line).empty()) continue;
        if (multipart && BeginsWithContent(line)) {
            partHeader += line + "\r\n";
            continue;
        }
        // The multipart block declares the MIME version itself; a second one makes the header
        // malformed, and some receivers refuse or misread such a mail.
        if (multipart && IsMimeVersion(line)) continue;
        if (MailCC.empty() && Contains(line, "CC:") && Contains(line, "%MAILCC%")) continue;
        if (MailBCC.empty() && Contains(line, "BCC:") && Contains(line, "%MAILBCC%")) continue;
        header += line + "\r\n";
    }
    std::string subject = BlankControlChars(MailSubject);
    header = ReplacePlaceholder(header, "%MAILTO%", SafeAddressList(MailTo, true));
    header = ReplacePlaceholder(header, "%MAILCC%", SafeAddressList(MailCC, true));
    header = ReplacePlaceholder(header, "%MAILBCC%", SafeAddressList(MailBCC, true));
    header = ReplacePlaceholder(header, "%MAILFROM%", SafeAddressList(MailFrom, true));
    header = ReplacePlaceholder(header, "%MAILSUBJECT%", subject);
    return ReplacePlaceholder(header, "%SUBJECT%", subject);
}

bool TSmtpSendMail::SendContent() {
    FOutput.clear();
    FSendFailed = false;
    if (FComposed) EmitComposed(*FComposed);
    else EmitMessage();
    if (!FlushData()) return false;
    // The relay commits the message before it answers the final "."; giving up on that answer
    // early turns one delivery into two when the message is tried again.
    const uint64_t budgetEnd = FDeadline;
    if (FinalReplyWaitMs > 0) FDeadline = std::max(FDeadline, TickCount() + FinalReplyWaitMs);
    FDataUnanswered = !ReadReply();
    // QUIT keeps to the budget: the message is settled either way by now.
    FDeadline = budgetEnd;
    FDataAccepted = ReplyCode() == 250;
    if (FDataAccepted && OnAccepted) OnAccepted();
    return FDataAccepted;
}

void TSmtpSendMail::ComposeData(const TDataSink& sink) {
    MessageBuffer().clear();
    FOutput.clear();
    FSendFailed = false;
    FDataSink = sink;
    try {
        EmitMessage();
        FlushData();
    } catch (...) {
        FDataSink = nullptr;
        FOutput.clear();
        throw;
    }
    FDataSink = nullptr;
}

void TSmtpSendMail::EmitComposed(TStream& data) {
    std::string chunk(kFlushSize, '\0');
    for (long n; !FSendFailed && (n = data.Read(chunk.data(), static_cast<long>(chunk.size()))) > 0;)
        Emit(chunk.substr(0, static_cast<size_t>(n)));
}

void TSmtpSendMail::EmitMessage() {
    std::string partHeader;
    Emit(DotStuff(HeaderText(partHeader), true));
    if (FAttachments.Count() == 0) {
        Emit("\r\n");
        Emit(BodyText(FMailBody.Text()));
        // Every line of the text already ends with CR LF, so the mark's own CR LF leaves one empty
        // line before the ".": receivers and stored mails expect exactly these bytes.
        Emit("\r\n.\r\n");
        return;
    }
    // Everything but the files is text a visitor wrote: the boundary is drawn until it occurs in
    // none of it, so no form value can end a part or open one of its own. (The files go as
    // base64, which cannot hold the boundary's "=_".)
    std::vector<TAttachmentLine> files;
    std::string partHeaders;
    for (const std::string& line : FAttachments) {
        files.push_back(SplitAttachmentLine(line));
        partHeaders += AttachmentPartHeader(AttachmentName(files.back().DisplayName));
    }
    const std::string body = BodyText(FMailBody.Text());
    const std::string dotted = DotStuff(partHeader, true);
    std::string boundary = NewMimeBoundary();
    while (Contains(body, boundary) || Contains(dotted, boundary) || Contains(partHeaders, boundary))
        boundary = NewMimeBoundary();
    Emit("Mime-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"" + boundary +
         "\"\r\n\r\nThis is a multipart message in MIME format\r\n\r\n--" + boundary + "\r\n");
    Emit(dotted);
    Emit("\r\n");
    Emit(body);
    for (const TAttachmentLine& file : files) {
        if (FSendFailed) break;
        Emit("--" + boundary + "\r\n");
        Emit(AttachmentPartHeader(AttachmentName(file.DisplayName)));
        SendBase64File(file.Path);
        Emit("\r\n");
    }
    Emit("\r\n--" + boundary + "--\r\n");
    Emit("\r\n.\r\n");
}

std::string TSmtpSendMail::BodyText(const std::string& text) {
    if (!OnBodyEntry) {
        AddBodyText(text);
    } else {
        size_t pos = 0;
        for (size_t first; (first = text.find('%', pos)) != std::string::npos;) {
            AddBodyText(text.substr(pos, first - pos));
            size_t second = text.find('%', first + 1);
            std::string name;
            if (second != std::string::npos &&
                IsPlaceholderName(name = text.substr(first + 1, second - first - 1))) {
                OnBodyEntry(Trim(name));
                pos = second + 1;
            } else {
                AddBodyText("%");
                pos = first + 1;
            }
        }
        AddBodyText(text.substr(pos));
    }
    // Dot-stuffing comes after the transfer encoding: it is the encoded text that travels.
    const std::string& body = MessageBuffer();
    switch (DeclaredBodyEncoding(FMailHeader)) {
        case TBodyEncoding::QuotedPrintable: return DotStuff(EncodeQuotedPrintable(body), true);
        case TBodyEncoding::Base64: return EncodeBase64Lines(body);
        case TBodyEncoding::None: break;
    }
    return DotStuff(NormalizeLineBreaks(body), true);
}

void TSmtpSendMail::SendBase64File(const std::string& path) {
    TFileStream file(path, fmOpenRead | fmShareDenyNone);
    TBase64LineEncoder encoder;
    std::string chunk(kFileChunk, '\0'), lines;
    for (long n; !FSendFailed && (n = file.Read(chunk.data(), kFileChunk)) > 0;) {
        encoder.Add(chunk.data(), static_cast<size_t>(n), lines);
        Emit(lines);
        lines.clear();
    }
    encoder.Finish(lines);
    Emit(lines);
}

void TSmtpSendMail::Emit(const std::string& text) {
    if (text.empty()) return;
    FOutput += text;
    if (FOutput.size() >= kFlushSize) FlushData();
}

bool TSmtpSendMail::FlushData() {
    if (FDataSink) {
        std::string text = std::move(FOutput);
        FOutput.clear();
        if (!text.empty()) FDataSink(text);
        return true;
    }
    if (!FSendFailed && !FOutput.empty() && !SendText(FOutput)) {
        if (FErrorCode == 0) ReportError(WSAETIMEDOUT);
        FSendFailed = true;
    }
    FOutput.clear();
    return !FSendFailed;
}

}  // namespace velmora
