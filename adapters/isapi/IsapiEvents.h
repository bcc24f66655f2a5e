// The three ISAPI event types: the library's version calls and the filter notifications, which
// the general engine component keeps for the ISAPI engine. None of them has a Sender.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace velmora {

// The server's filter context, as the ISAPI host lays it out.
struct THTTP_FILTER_CONTEXT;

using THttpExtensionVersionEvent =
    std::function<void(uint32_t& requestVersion, std::string& requestDesc, bool& resultValue)>;
using THttpFilterProcEvent = std::function<void(THTTP_FILTER_CONTEXT& pfc, uint32_t notificationType,
                                                void* pvNotification, uint32_t& resultValue)>;
using THttpFilterVersionEvent =
    std::function<void(uint32_t& serverFilterVersion, uint32_t& filterVersion,
                       std::string& filterDesc, uint32_t& flags, bool& resultValue)>;

}  // namespace velmora
