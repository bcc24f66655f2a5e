// The keys VELMORA.CONF may hold, each with its kind and default. A feature that needs a site
// option declares it here, so this table is the one list of what the file can switch.
#include "SiteConfig.h"

namespace velmora {

const std::vector<TConfKey>& SiteConfigKeys() {
    static const std::vector<TConfKey> keys{
        // Whether a form's mailhost and mailport fields may choose the relay. Denied, they would
        // let any visitor make the server connect to any host and port it can reach.
        {.Name = "form_relay", .Kind = TConfKind::Choice, .Default = "deny", .Choices = "deny|allow"},
    };
    return keys;
}

}  // namespace velmora
