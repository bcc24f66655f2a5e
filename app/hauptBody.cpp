// zuordnen: the mail body of a form post: the top lines, one entry per posted field (name,
// separator, value; or the value alone), the bottom lines, and the date line when switched on.
#include <unordered_set>

#include "FieldNameSet.h"
#include "HAdaptor.h"
#include "System.h"
#include "haupt.h"

namespace velmora {

void THauptmenue::zuordnen(bool dateLine, const std::vector<std::string>& leaveOut) {
    std::string separator = AdaptGetFormField("CHAR", ":");
    bool valuesOnly = AdaptGetFormField("VARNAMES", "") == "NO";
    TStringList& body = Nachricht->MailBody();
    body.Clear();
    std::unique_ptr<TStringList> names = HTTP->GetFormFieldNames();
    vars.Clear();
    if (names) vars.Assign(*names);
    for (const std::string& line : Top) body.Add(line);
    // A name posted again after others is listed only at its first place: its entry already holds
    // all its values, and "a=&b=&a=&b=&..." would otherwise grow the mail with the square of the post.
    std::unordered_set<std::string> listed;
    const TFieldNameSet left(leaveOut);
    for (const std::string& name : vars) {
        if (IsControlFieldName(name) || !listed.insert(name).second) continue;
        if (left.Contains(name)) continue;
        // Several values of one field come joined by CR LF: one entry over several lines.
        std::string value = AdaptGetFormField(name, "");
        if (valuesOnly) body.Add(value);
        else if (!value.empty()) body.Add(name + separator + value);
    }
    for (const std::string& line : Bottom) body.Add(line);
    if (dateLine) {
        TDateTime now = Now();
        body.Add(FormatShortDate(now) + " " + FormatLongTime(now));
    }
}

}  // namespace velmora
