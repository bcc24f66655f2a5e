// The sender thread of a resident engine: one per process, it delivers the outbox folders that
// background posts name over one kept SMTP connection, woken by each post and by its own timer.
#pragma once

#include <string>

#include "Outbox.h"

namespace velmora {

// Starts the thread on the first call; run is the folder's delivery as the latest post found the
// site's settings (the thread sets its own limits and connection); name is the message the post
// has just kept there, delivered without a listing of the folder ("": none). The thread lists the
// folder at its first run for each folder, on its timer and after a failed run.
void WakeOutboxSender(const std::string& folder, const TFlushRun& run, const std::string& name);
// Ends the thread after the message it is sending (at the process's exit; a mail left over stays
// in its folder for the next start or the flush command).
void StopOutboxSender();

}  // namespace velmora
