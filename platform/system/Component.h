// TComponent: the owner/name/owned-components model that every setting-carrying object shares.
// An owner frees what it owns, last created first; Loaded runs once after stored values are set.
#pragma once

#include <string>
#include <vector>

namespace velmora {

// Not thread-safe: components are created and wired on one thread before requests are served.
class TComponent {
public:
    explicit TComponent(TComponent* owner = nullptr);
    virtual ~TComponent();
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const noexcept { return FOwner; }
    const std::string& Name() const noexcept { return FName; }
    virtual void SetName(const std::string& name) { FName = name; }

    int ComponentCount() const noexcept { return static_cast<int>(FComponents.size()); }
    TComponent* Components(int index) const { return FComponents.at(static_cast<size_t>(index)); }
    TComponent* FindComponent(const std::string& name) const;

    // Runs once after the owner's stored settings have been applied.
    virtual void Loaded() {}
    // The design-time state of the visual designer; this system never runs inside one.
    bool Designing() const noexcept { return false; }

    int Tag = 0;

protected:
    // Frees every owned component, last created first; an exception from one does not stop the rest.
    void DestroyComponents() noexcept;

private:
    void InsertComponent(TComponent* child);
    void RemoveComponent(TComponent* child) noexcept;

    TComponent* FOwner;
    std::string FName;
    std::vector<TComponent*> FComponents;
};

}  // namespace velmora
