// Finding and loading the TLS module (velmora-tls.so) once per process, for the TLS channel and
// the keyed digests alike: a start that needs neither never maps OpenSSL.
#pragma once

#include "TlsModule.h"

namespace velmora {

inline constexpr const char* kTlsModuleName = "velmora-tls.so";

// The module's table, loaded on the first call (any thread); null when no module of this
// program's version can be loaded.
const TVelmoraTlsModule* LoadedTlsModule();

}  // namespace velmora
