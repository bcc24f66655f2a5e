// What a form may choose for its own post: the answer template and the address the browser is
// sent on to. Each rule closes one way a hostile visitor could misuse the program.
#pragma once

#include <string>
#include <vector>

namespace velmora {

// A template name a form may choose: relative, without a ".." component.
bool IsSafeTemplateName(const std::string& name);

// The template a form names, as the absolute path to open, or "" with the reason in why. It must
// be a regular file named *.htm or *.html inside the program's folder once every link is resolved,
// and none of the program's own files (the program, its VELMORA.* side files, its log folder):
// any other file there (the settings with the relay, the log with other visitors' posts) would be
// shown to whoever asks for it.
std::string FormTemplatePath(const std::string& name, const std::string& programFile, std::string& why);

// Whether the browser may be sent on to url: a relative address (a path beginning with one "/"
// not followed by "/" or "\", or a name with no ":" or "\" before its first "/"), or an http: or
// https: address whose host is one of hosts (blank or comma separated); empty hosts: any host.
bool IsAllowedRedirect(const std::string& url, const std::string& hosts);

// The entries of a list separated by blanks or commas, as written.
std::vector<std::string> WordListItems(const std::string& list);

// Whether word is one of the list's entries (separated by blanks or commas), case ignored.
bool InWordList(const std::string& list, const std::string& word);

}  // namespace velmora
