// The process's application object and the loading of a form's components.
// The application object is made on first use and never destroyed, so a shared-library build has no
// static-destruction-order trouble; TerminateProgram frees the forms explicitly before exiting.
#include "Forms.h"

#include <algorithm>
#include <vector>

namespace velmora {

TApplication& Application() {
    // Deliberately leaked: objects of other translation units (or of the web server hosting the
    // library) may still use it while static destructors run.
    static TApplication* app = new TApplication;
    return *app;
}

void TApplication::SetTitle(const std::string& title) { FWindow.SetTitle(title); }

void TApplication::FinishCreate(TComponent* form) {
    auto* asForm = dynamic_cast<TForm*>(form);
    const bool becameMain = FMainForm == nullptr && asForm != nullptr;
    if (becameMain) FMainForm = asForm;
    try {
        LoadComponents(form);
    } catch (...) {
        // A form whose loading failed is not kept half made.
        if (becameMain) FMainForm = nullptr;
        delete form;
        throw;
    }
}

static bool Owns(const TComponent* owner, const TComponent* child) {
    for (int i = 0; i < owner->ComponentCount(); ++i)
        if (owner->Components(i) == child) return true;
    return false;
}

void LoadComponents(TComponent* c) {
    // Only the components that exist now were "read from the form description": components that
    // a Loaded creates (the engines made by the engine component) are complete already and must
    // not be loaded again, so the list is taken before any Loaded runs.
    std::vector<TComponent*> stored;
    stored.reserve(static_cast<size_t>(c->ComponentCount()));
    for (int i = 0; i < c->ComponentCount(); ++i) stored.push_back(c->Components(i));
    for (TComponent* child : stored)
        if (Owns(c, child)) LoadComponents(child);  // skips one freed by an earlier Loaded
    c->Loaded();
}

}  // namespace velmora
