// The answer pages' texts. Each piece is one write, so the engine sees the pages exactly as the
// program has always sent them; only text from the request or the relay is escaped.
#include "AnswerPages.h"

#include "HAdaptor.h"
#include "HtmlEscape.h"

namespace velmora {

void WriteRefusalPage(const std::string& storedMailto, const TStringList& allowed) {
    AdaptWrite("<HTML><HEAD><TITLE>Message from Brevanto - VELMORA</TITLE></HEAD><BODY>");
    AdaptWrite("<center>Destination EMail-Adress not allowed.<br>" + storedMailto +
               "<p><br>Allowed EMail-Adresses :<br>");
    for (const std::string& line : allowed) {
        AdaptWrite(line);
        AdaptWrite("<br>");
    }
    AdaptWrite("</center></BODY></HTML>");
}

void WriteRedirectPage(const std::string& url) {
    AdaptWrite("<html><head>");
    // The address comes from the form: escaped, a double quote in it cannot end the attribute.
    AdaptWrite("<meta http-equiv=\"REFRESH\" content=\"0;URL=" + HtmlEscape(url) + "\">");
    AdaptWrite("<title>Form</title></head><body bgcolor=\"#FFFFFF\"><p><font color=\"#FFFFFF\">Velmora</font></p></body></html>");
}

void WriteThankYouPage() {
    AdaptWrite("<HTML><HEAD><TITLE>Message</TITLE></HEAD><BODY>");
    AdaptWrite("<center>Thank you.<br>We received your message.</center>");
    AdaptWrite("</BODY></HTML>");
}

void WriteTooLargePage(int limit) {
    AdaptWrite("<HTML><HEAD><TITLE>Message from Brevanto - VELMORA Error</TITLE></HEAD><BODY>");
    AdaptWrite("The form is too large: at most " + std::to_string(limit) + " bytes are accepted. Nothing was sent.");
    AdaptWrite("</BODY></HTML>");
}

void WriteErrorPage(const std::string& errorText) {
    AdaptWrite("<HTML><HEAD><TITLE>Message from Brevanto - VELMORA Error</TITLE></HEAD><BODY>");
    // The relay's reply can echo what the form sent (an address, say): escaped like any request text.
    AdaptWrite("unable to deliver mail : " + HtmlEscape(errorText));
    AdaptWrite("</BODY></HTML>");
}

}  // namespace velmora
