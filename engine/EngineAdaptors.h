// Installs the engine layer's routines into the adaptor table, so that code below this layer
// reaches the calling thread's current engine. Called once at start-up from HttpEng.cpp.
#pragma once

namespace velmora {

void InstallEngineAdaptors() noexcept;

}  // namespace velmora
