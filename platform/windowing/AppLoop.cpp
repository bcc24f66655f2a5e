// The application's message loop: TApplication::Run and ProcessMessages on the calling thread's
// queue. A WM_CLOSE or WM_QUIT thread message (a close signal, see InstallCloseSignals) ends it.
#include <cstdio>
#include <exception>

#include "Forms.h"
#include "Messages.h"

namespace velmora {

namespace {

bool EndsApplication(const TMsg& msg) {
    return msg.Window == 0 && (msg.Message == WM_CLOSE || msg.Message == WM_QUIT);
}

// One message; an exception from a handler must not end the loop of a resident server. Nobody
// sees a message box here, so the text goes to standard error.
void DispatchGuarded(TMessageQueue& queue, TMsg& msg) {
    try {
        queue.Dispatch(msg);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "Unhandled exception in message handler: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "Unhandled exception in message handler\n");
    }
}

}  // namespace

void TApplication::ProcessMessages() {
    TMessageQueue& queue = TMessageQueue::Current();
    TMsg msg;
    while (queue.Peek(msg, 0, 0, true)) {
        if (EndsApplication(msg)) Terminate();
        DispatchGuarded(queue, msg);
    }
}

void TApplication::Run() {
    if (ShowMainForm && FMainForm && FMainForm->WindowState() != wsMinimized) FMainForm->Show();
    TMessageQueue& queue = TMessageQueue::Current();
    while (!FTerminated) {
        queue.WaitMessage(-1);
        ProcessMessages();
    }
}

}  // namespace velmora
