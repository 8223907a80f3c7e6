#include "base/Component.h"

#include <algorithm>

TComponent::TComponent(TComponent* owner) {
    if (owner != nullptr) {
        owner->Insert(this);
    }
}

TComponent::~TComponent() {
    while (!FComponents.empty()) {
        TComponent* last = FComponents.back();
        delete last; // its destructor removes it from this list
    }
    if (FOwner != nullptr) {
        FOwner->Remove(this);
    }
}

void TComponent::SetDesigning(bool designing) {
    if (designing) {
        FState.Include(TComponentStateFlag::csDesigning);
    } else {
        FState.Exclude(TComponentStateFlag::csDesigning);
    }
}

void TComponent::BeginLoading() {
    FState.Include(TComponentStateFlag::csLoading);
    for (TComponent* c : FComponents) {
        c->BeginLoading();
    }
}

void TComponent::EndLoading() {
    // Owned components first, as their owner's step may rely on them being ready.
    const std::vector<TComponent*> owned = FComponents;
    for (TComponent* c : owned) {
        c->EndLoading();
    }
    if (FState.Contains(TComponentStateFlag::csLoading)) {
        Loaded();
    }
}

void TComponent::Loaded() {
    FState.Exclude(TComponentStateFlag::csLoading);
}

void TComponent::Insert(TComponent* component) {
    FComponents.push_back(component);
    component->FOwner = this;
}

void TComponent::Remove(TComponent* component) {
    auto it = std::find(FComponents.begin(), FComponents.end(), component);
    if (it != FComponents.end()) {
        FComponents.erase(it);
    }
    component->FOwner = nullptr;
}
