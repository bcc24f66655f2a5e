// TComponent ownership: children register with their owner and are freed with it, newest first.
// A child freed on its own leaves its owner's list, so nothing is freed twice.
#include "Component.h"

#include <algorithm>

namespace velmora {

TComponent::TComponent(TComponent* owner) : FOwner(owner) {
    if (FOwner) FOwner->InsertComponent(this);
}

TComponent::~TComponent() {
    DestroyComponents();
    if (FOwner) FOwner->RemoveComponent(this);
}

TComponent* TComponent::FindComponent(const std::string& name) const {
    for (TComponent* c : FComponents)
        if (c->FName == name) return c;
    return nullptr;
}

void TComponent::DestroyComponents() noexcept {
    while (!FComponents.empty()) {
        TComponent* last = FComponents.back();
        FComponents.pop_back();
        last->FOwner = nullptr;
        // Destructors are noexcept, so nothing can be caught here: a component whose release can
        // raise an event catches inside its own destructor (the socket components do).
        delete last;
    }
}

void TComponent::InsertComponent(TComponent* child) { FComponents.push_back(child); }

void TComponent::RemoveComponent(TComponent* child) noexcept {
    auto it = std::find(FComponents.begin(), FComponents.end(), child);
    if (it != FComponents.end()) FComponents.erase(it);
}

}  // namespace velmora
