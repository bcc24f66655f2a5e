// Value entries of the template filter: the application's handler first, then a server variable,
// a form field, the hidden input element, TIME and DATE. Request values are written HTML-escaped.
#include "HAdaptor.h"
#include "HtmlEscape.h"
#include "HttpTextFilter.h"
#include "SysUtils.h"

namespace velmora {

namespace {

const std::string NotAvailable = "#1NOT_AVAILABLE#1";

// Server variables and form fields come from whoever sent the request; escaping them keeps a
// posted "<script>" from running inside the site's own page.
void WriteRequestValue(const std::string& value) {
    if (NeedsHtmlEscape(value)) AdaptWrite(HtmlEscape(value));
    else AdaptWrite(value);
}

int SecondsSinceMidnight(TDateTime t) {
    TDateParts p = DecodeDateTime(t);
    return p.Hour * 3600 + p.Minute * 60 + p.Second;
}

}  // namespace

void THttpTextFilterComponent::WriteValueEntry(const std::string& name) {
    // Views compare lengths first, which keeps the common entry away from memcmp.
    std::string_view entry = name;
    if (OnHttpEntry) {
        bool handled = true;
        OnHttpEntry(this, name, handled);
        if (handled) return;
    }
    std::string variable = AdaptGetVariable(name);
    if (!variable.empty() && variable != NotAvailable) {
        WriteRequestValue(variable);
        return;
    }
    std::string field = AdaptGetFormField(name, NotAvailable);
    if (entry == "RANDOM_HIDDEN_INPUT") {
        // Generated here, so nothing in it needs escaping; a form field of this name is ignored.
        AdaptWrite("<INPUT TYPE=\"HIDDEN\" NAME=\"RANDOM_HIDDEN_INPUT\" VALUE=\"" +
                   IntToStr(SecondsSinceMidnight(CurrentTime())) + "\">");
    } else if (field != NotAvailable) {
        WriteRequestValue(field);
    } else if (entry == "TIME") {
        AdaptWrite(FormatLongTime(CurrentTime()));
    } else if (entry == "DATE") {
        AdaptWrite(FormatShortDate(CurrentTime()));
    }
}

}  // namespace velmora
