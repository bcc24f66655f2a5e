// Fuzz target of URLDecode, URLEncode, FindFormValue and ParseFormFieldNames. Input: a field name,
// a line feed, then form data. Besides memory errors it checks what must hold for any input.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FormData.h"

using namespace velmora;

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    const std::string input(reinterpret_cast<const char*>(bytes), size);
    const size_t lf = input.find('\n');
    const std::string name = lf == std::string::npos ? std::string() : input.substr(0, lf);
    const std::string data = lf == std::string::npos ? input : input.substr(lf + 1);

    const std::string decoded = URLDecode(data);
    Check(decoded.size() <= data.size());
    Check(URLDecode(URLEncode(data)) == data);
    ParseFormFieldNames(data);
    FindFormValue(name, data, "-");

    // A pair put in front of any data is found first, with its value whole.
    const std::string value = name.substr(0, name.size() / 2);
    const std::string front = URLEncode(name) + "=" + URLEncode(value) + "&" + data;
    const std::string found = FindFormValue(name, front, "-");
    Check(found.compare(0, value.size(), value) == 0);
    Check(found.size() == value.size() || found.compare(value.size(), 2, "\r\n") == 0);
    auto names = ParseFormFieldNames(front);
    Check(names->Count() >= 1 && names->Strings(0) == name);
    return 0;
}
