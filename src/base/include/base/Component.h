// A minimal component framework: components owned by an owner that frees them, with a name, a
// tag, a state (loading from a stored layout, design mode) and an after-loading step.
#pragma once

#include "base/Exception.h"

#include <cstdint>
#include <string>
#include <vector>

enum class TComponentStateFlag : uint8_t { csLoading = 1, csDesigning = 2 };

struct TComponentState {
    uint8_t Bits = 0;
    bool Contains(TComponentStateFlag flag) const {
        return (Bits & static_cast<uint8_t>(flag)) != 0;
    }
    void Include(TComponentStateFlag flag) { Bits |= static_cast<uint8_t>(flag); }
    void Exclude(TComponentStateFlag flag) {
        Bits &= static_cast<uint8_t>(~static_cast<uint8_t>(flag));
    }
};

class TComponent : public TObject {
public:
    // The owner, when given, takes the new component into its list and frees it with itself.
    explicit TComponent(TComponent* owner);
    // Frees the owned components (last created first), then leaves the owner's list.
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return FOwner; }
    int ComponentCount() const { return static_cast<int>(FComponents.size()); }
    TComponent* Components(int index) const { return FComponents.at(static_cast<size_t>(index)); }

    const std::string& Name() const { return FName; }
    void SetName(std::string name) { FName = std::move(name); }
    intptr_t Tag() const { return FTag; }
    void SetTag(intptr_t tag) { FTag = tag; }

    TComponentState ComponentState() const { return FState; }
    void SetDesigning(bool designing);

    // Applying a stored layout: BeginLoading, set the stored properties, EndLoading, which runs
    // the after-loading step Loaded of this component and of those it owns.
    void BeginLoading();
    void EndLoading();

protected:
    // The after-loading step; overrides call the base first, which clears the loading flag.
    virtual void Loaded();

private:
    void Insert(TComponent* component);
    void Remove(TComponent* component);

    TComponent* FOwner = nullptr;
    std::vector<TComponent*> FComponents;
    std::string FName;
    intptr_t FTag = 0;
    TComponentState FState;
};
