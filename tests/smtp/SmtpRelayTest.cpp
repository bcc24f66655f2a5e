// The SMTP sender against a real relay (aiosmtpd): each delivered message is read back with
// Python's email package, checking headers, the decoded body, attachments and the envelope.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "HSmtp.h"
#include "SmtpSink.h"
#include "SysUtils.h"

namespace velmora {
namespace {

using test::SmtpSink;

// The header template of the form-mail application: its body is quoted-printable.
const char* const kApplicationHeader[] = {
    "From: %MAILFROM%", "To: %MAILTO%", "CC: %MAILCC%", "Subject: %SUBJECT% ", "Mime-Version: 1.0",
    "Content-Type: text/plain; charset=iso-8859-1", "Content-Transfer-Encoding: quoted-printable"};

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string Join(const std::vector<std::string>& lines, bool finalLineEnd) {
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i)
        text += lines[i] + (i + 1 < lines.size() || finalLineEnd ? "\r\n" : "");
    return text;
}

class SmtpRelay : public ::testing::Test {
protected:
    std::unique_ptr<TSmtpSendMail> Mailer() {
        auto m = std::make_unique<TSmtpSendMail>();
        m->RemoteHost = "127.0.0.1";
        m->RemotePort = std::to_string(sink.Port());
        m->MailFrom = "Alice Sender <alice@example.test>";
        m->MailTo = "bob@example.test";
        m->MailSubject = "Hello";
        return m;
    }
    void UseApplicationHeader(TSmtpSendMail& m) {
        m.MailHeader().Clear();
        for (const char* line : kApplicationHeader) m.MailHeader().Add(line);
    }
    void SetBody(TSmtpSendMail& m, const std::vector<std::string>& lines) {
        m.MailBody().Clear();
        for (const std::string& line : lines) m.MailBody().Add(line);
    }
    // How the decoded body ends: every message's text ends with an empty line before the final
    // "."; base64 decoding drops it, and in a multipart message the body's last line end belongs
    // to the boundary that follows (the empty line then trails the closing boundary).
    enum class Ending { EmptyLine, Base64, Multipart };
    // The checker's argument for the decoded body.
    std::string BodyFile(const std::vector<std::string>& lines, Ending ending = Ending::EmptyLine) {
        std::string path = sink.Dir() + "/expected-body-" + std::to_string(++files);
        std::string text = Join(lines, ending != Ending::Multipart);
        WriteFile(path, ending == Ending::EmptyLine ? text + "\r\n" : text);
        return "--body-file=" + path;
    }
    // Runs the checker on message n with the given expectations.
    void Check(int n, std::vector<std::string> args) {
        args.insert(args.begin(), {std::string(VELMORA_SOURCE_DIR) + "/tests/support/check_mail.py",
                                   sink.Message(n), "--envelope", sink.Envelope(n)});
        std::string output;
        EXPECT_EQ(test::RunPython(args, output), 0) << "message " << n << ":\n" << output;
    }
    std::string Raw(int n) { return test::ReadFileBytes(sink.Message(n)); }

    SmtpSink sink;
    int files = 0;
};

TEST_F(SmtpRelay, MessagesWithAndWithoutCopies) {
    auto mail = Mailer();
    SetBody(*mail, {"first line", "second line"});
    ASSERT_TRUE(mail->Send(20)) << mail->GetErrorText();
    Check(1, {"--header=From=Alice Sender <alice@example.test>", "--header=To=bob@example.test",
              "--header=Subject=Hello ", "--no-header=CC", "--no-header=BCC",
              BodyFile({"first line", "second line"}), "--mail-from=alice@example.test",
              "--rcpt=bob@example.test"});

    mail->MailCC = "Carol <carol@example.test>, dave@example.test";
    mail->MailBCC = "eve@example.test";
    ASSERT_TRUE(mail->Send(20)) << mail->GetErrorText();
    EXPECT_NE(Raw(2).find("\r\nCC: Carol <carol@example.test>,<dave@example.test>\r\n"),
              std::string::npos);
    Check(2, {"--header=CC=Carol <carol@example.test>, dave@example.test",
              "--header=BCC=eve@example.test", "--rcpt=bob@example.test",
              "--rcpt=carol@example.test", "--rcpt=dave@example.test", "--rcpt=eve@example.test"});

    // The application's template has no BCC line: a blind copy stays blind.
    UseApplicationHeader(*mail);
    ASSERT_TRUE(mail->Send(20)) << mail->GetErrorText();
    Check(3, {"--no-header=BCC", "--header=CC=Carol <carol@example.test>, dave@example.test",
              BodyFile({"first line", "second line"}), "--rcpt=bob@example.test",
              "--rcpt=carol@example.test", "--rcpt=dave@example.test", "--rcpt=eve@example.test"});
    EXPECT_EQ(sink.MessageCount(), 3);
}

TEST_F(SmtpRelay, BodyLinesWithDots) {
    const std::vector<std::string> lines = {".", ".x", "..", "a.b", ". blank", "", "...", "."};
    auto mail = Mailer();
    SetBody(*mail, lines);
    ASSERT_TRUE(mail->Send(20)) << mail->GetErrorText();
    Check(1, {BodyFile(lines)});
    UseApplicationHeader(*mail);
    ASSERT_TRUE(mail->Send(20)) << mail->GetErrorText();
    Check(2, {BodyFile(lines)});
}

TEST_F(SmtpRelay, EightBitTextAndEqualsSigns) {
    const std::vector<std::string> lines = {
        "a=41b", "Gr\xfc\xdf" "e aus K\xf6ln = 100%", std::string(150, '=') + "\xe9 end",
        "trailing blank ", "\t", ".dot", "x=\tA=0D=0A", std::string(76, 'y'), std::string(77, 'z')};
    auto mail = Mailer();
    SetBody(*mail, lines);  // no transfer encoding declared: the 8-bit text travels as it is
    ASSERT_TRUE(mail->Send(20)) << mail->GetErrorText();
    Check(1, {BodyFile(lines)});

    UseApplicationHeader(*mail);
    ASSERT_TRUE(mail->Send(20)) << mail->GetErrorText();
    EXPECT_NE(Raw(2).find("\r\n\r\na=3D41b\r\n"), std::string::npos);
    Check(2, {BodyFile(lines), "--header=Content-Transfer-Encoding=quoted-printable"});

    mail->MailHeader().SetString(6, "Content-Transfer-Encoding: base64");
    ASSERT_TRUE(mail->Send(20)) << mail->GetErrorText();
    Check(3, {BodyFile(lines, Ending::Base64)});
}

TEST_F(SmtpRelay, BinaryAttachments) {
    std::mt19937 gen(42);
    auto mail = Mailer();
    UseApplicationHeader(*mail);
    const std::vector<std::string> lines = {"See the files.", "a=b", "."};
    SetBody(*mail, lines);
    std::vector<std::string> args = {BodyFile(lines, Ending::Multipart)};
    for (int size : {0, 1, 2, 3, 45, 46, 100000}) {
        std::string data(static_cast<size_t>(size), '\0');
        for (char& c : data) c = static_cast<char>(gen());
        std::string path = sink.Dir() + "/upload" + std::to_string(size) + ".tmp";
        WriteFile(path, data);
        // Every other one under a display name, as the application names its uploads; one name
        // holds quotes, which must not end the MIME parameter early.
        std::string shown = (size == 1 ? "\"Q\" " : "file ") + std::to_string(size) + ".bin";
        if (size % 2)
            mail->Attachments().Add("C:\\docs\\" + shown + " <" + path + ">");
        else
            mail->Attachments().Add(path);
        args.push_back("--attachment=" + (size % 2 ? shown : "upload" + std::to_string(size) + ".tmp") +
                       "=" + path);
    }
    ASSERT_TRUE(mail->Send(20)) << mail->GetErrorText();
    Check(1, args);
    EXPECT_NE(Raw(1).find("This is a multipart message in MIME format\r\n"), std::string::npos);
    EXPECT_EQ(Raw(1).find("Mime-Version"), Raw(1).rfind("Mime-Version"));  // declared once

    mail->Attachments().Add(sink.Dir() + "/no-such-file");
    EXPECT_THROW(mail->Send(20), EFOpenError);
    EXPECT_EQ(mail->State(), ssReady);
    EXPECT_EQ(sink.MessageCount(), 1);
}

TEST_F(SmtpRelay, ControlCharactersCannotInjectHeadersOrRecipients) {
    auto mail = Mailer();
    mail->MailSubject = "Hi\r\nBcc: many@example.test";
    mail->MailTo = "bob@example.test\r\nRCPT TO:<mallory@example.test>";
    mail->MailCC = "carol@example.test\nX-Injected: yes";
    mail->MailFrom = "alice@example.test\rDATA";
    SetBody(*mail, {"body"});
    ASSERT_TRUE(mail->Send(20)) << mail->GetErrorText();
    std::string raw = Raw(1);
    std::string header = raw.substr(0, raw.find("\r\n\r\n") + 2);
    EXPECT_NE(header.find("\r\nSubject: Hi  Bcc: many@example.test \r\n"), std::string::npos) << header;
    EXPECT_EQ(header.find("\nBcc:"), std::string::npos) << header;
    EXPECT_EQ(header.find("\nX-Injected"), std::string::npos) << header;
    std::string output;
    // One recipient per address entry, whatever the entries hold.
    test::RunPython({"-c", "import json,sys; print(len(json.load(open(sys.argv[1]))['rcpt_tos']))",
                     sink.Envelope(1)},
                    output);
    EXPECT_EQ(output, "2\n");
    Check(1, {"--no-header=BCC", "--no-header=X-Injected", BodyFile({"body"})});
}

TEST_F(SmtpRelay, PlaceholdersInTheBody) {
    auto mail = Mailer();
    SetBody(*mail, {"Dear %NAME%,", "100% sure, 50 % off", "%%", "rate: 5%", "10%"});
    mail->OnBodyEntry = [&](const std::string& name) {
        mail->AddBodyText(name == "NAME" ? "Zo\xeb" : "[" + name + "]");
    };
    ASSERT_TRUE(mail->Send(20)) << mail->GetErrorText();
    Check(1, {BodyFile({"Dear Zo\xeb,", "100% sure, 50 % off", "[]", "rate: 5%", "10%"})});
}

}  // namespace
}  // namespace velmora
