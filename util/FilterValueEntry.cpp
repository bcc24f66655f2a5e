// Value entries of the template filter: the application's handler first, then a server variable,
// a form field, the hidden input element, TIME and DATE. Request values are written HTML-escaped.
#include "FilterOutput.h"
#include "HAdaptor.h"
#include "HttpTextFilter.h"
#include "SysUtils.h"

namespace velmora {

namespace {

int SecondsSinceMidnight(TDateTime t) {
    TDateParts p = DecodeDateTime(t);
    return p.Hour * 3600 + p.Minute * 60 + p.Second;
}

}  // namespace

// Server variables and form fields come from whoever sent the request, so they are written
// escaped (WriteEscaped): a posted "<script>" must not run inside the site's own page.
void THttpTextFilterComponent::WriteValueEntry(const std::string& name, TFilterOutput& out) {
    // Views compare lengths first, which keeps the common entry away from memcmp.
    std::string_view entry = name;
    if (OnHttpEntry) {
        bool handled = true;
        out.Flush();  // the handler writes after the text before its entry
        OnHttpEntry(this, name, handled);
        if (handled) return;
    }
    std::string variable = AdaptGetVariable(name);
    if (!variable.empty() && variable != NotAvailable) {
        out.WriteEscaped(variable);
        return;
    }
    std::string field = AdaptGetFormField(name, NotAvailable);
    if (entry == "RANDOM_HIDDEN_INPUT") {
        // Generated here, so nothing in it needs escaping; a form field of this name is ignored.
        out.Write("<INPUT TYPE=\"HIDDEN\" NAME=\"RANDOM_HIDDEN_INPUT\" VALUE=\"" +
                   IntToStr(SecondsSinceMidnight(CurrentTime())) + "\">");
    } else if (field != NotAvailable) {
        out.WriteEscaped(field);
    } else if (entry == "TIME") {
        out.Write(FormatLongTime(CurrentTime()));
    } else if (entry == "DATE") {
        out.Write(FormatShortDate(CurrentTime()));
    }
}

}  // namespace velmora
