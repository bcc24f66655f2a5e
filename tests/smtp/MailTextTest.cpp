// Address lists, placeholders, attachment lines and the control-character check of the sender.
#include <gtest/gtest.h>

#include "MailText.h"

namespace velmora {
namespace {

TEST(MailText, FormatAddressList) {
    struct Case { const char* text; bool names; const char* want; };
    const Case cases[] = {
        {"John Smith <jsmith>", false, "<jsmith>"},
        {"John Smith <jsmith>", true, "John Smith <jsmith>"},
        {"alpha, beta", false, "<alpha>,<beta>"},
        {"alpha; beta", false, "<alpha>,<beta>"},
        {"a <x>; Bee <b>", true, "a <x>,Bee <b>"},
        {"<jsmith>", true, "<jsmith>"},
        {"x", false, ""},  // a text of one character
        {"", false, ""},
        {"  bob@example.test  ", false, "<bob@example.test>"},
        {"Bob\t<bob@x>", true, "Bob <bob@x>"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatAddressList(c.text, c.names), c.want) << "text \"" << c.text << "\"";
    // Long lists and long addresses keep every entry and every character.
    std::string list, want;
    for (int i = 0; i < 300; ++i) {
        list += (i ? ", " : "") + std::string("user") + std::to_string(i) + "@example.test";
        want += (i ? "," : "") + std::string("<user") + std::to_string(i) + "@example.test>";
    }
    EXPECT_EQ(FormatAddressList(list, false), want);
    std::string longAddress(700, 'a');
    EXPECT_EQ(FormatAddressList("N <" + longAddress + ">", false), "<" + longAddress + ">");
}

TEST(MailText, ControlCharactersNeverLeaveOneLine) {
    EXPECT_EQ(BlankControlChars("Hi\r\nBcc: x\t\x7f\x01" "\xe4"), "Hi  Bcc: x   \xe4");
    std::string list = SafeAddressList("bob@example.test\r\nRCPT TO:<mallory@example.test>", false);
    EXPECT_EQ(list.find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(list.find(','), std::string::npos) << list;  // still one address
}

TEST(MailText, ReplacePlaceholder) {
    EXPECT_EQ(ReplacePlaceholder("Subject: %subject% ", "%SUBJECT%", "Hi"), "Subject: Hi ");
    EXPECT_EQ(ReplacePlaceholder("%SUBJECT% %SUBJECT%", "%SUBJECT%", "Hi"), "Hi %SUBJECT%");
    EXPECT_EQ(ReplacePlaceholder("To: x", "%MAILTO%", "y"), "To: x");
    std::string tail(5000, 't');
    EXPECT_EQ(ReplacePlaceholder("A%X%" + tail, "%X%", "v"), "Av" + tail);
}

TEST(MailText, AttachmentLines) {
    TAttachmentLine a = SplitAttachmentLine("  report.txt <C:\\temp\\upload123.tmp> ");
    EXPECT_EQ(a.DisplayName, "report.txt");
    EXPECT_EQ(a.Path, "C:\\temp\\upload123.tmp");
    a = SplitAttachmentLine("/var/tmp/plain.bin");
    EXPECT_EQ(a.DisplayName, "/var/tmp/plain.bin");
    EXPECT_EQ(a.Path, "/var/tmp/plain.bin");
    a = SplitAttachmentLine("a <b> c");  // the first ">" is not the last character
    EXPECT_EQ(a.Path, "a <b> c");
    EXPECT_EQ(AttachmentName("/var/tmp/plain.bin"), "plain.bin");
    EXPECT_EQ(AttachmentName("C:\\dir\\x.txt"), "x.txt");
    EXPECT_EQ(AttachmentName("C:x.txt"), "x.txt");
    EXPECT_EQ(AttachmentName("report.txt"), "report.txt");
}

}  // namespace
}  // namespace velmora
