// Cutting request text for log lines (see LogText.h).
#include "LogText.h"

namespace velmora {

std::string ForLog(std::string_view text, size_t limit) {
    size_t keep = text.size();
    if (keep > limit) {
        keep = limit;
        // Step back over continuation bytes so the cut leaves whole characters.
        for (int i = 0; i < 3 && keep > 0 && (static_cast<unsigned char>(text[keep]) & 0xC0) == 0x80; ++i) --keep;
    }
    std::string out(text.substr(0, keep));
    if (keep < text.size()) out += "...[cut, " + std::to_string(text.size()) + " bytes]";
    return out;
}

}  // namespace velmora
