#include "tftp/IdComponent.h"

#include "net/IdStack.h"

int32_t LiveComponentCount = 0;

namespace {

// Running counts are signed 32-bit; a transfer of more than 2 GiB wraps them as two's complement
// instead of overflowing.
int32_t WrappingAdd(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

} // namespace

TIdComponent::TIdComponent(TComponent* owner) : TIdBaseComponent(owner) {
    // When the stack cannot be made the exception leaves here: GlobalStack stays null and this
    // component is not counted (the base destructor takes it out of its owner's list).
    if (GlobalStack == nullptr) {
        GlobalStack = TIdStack::MakeDefaultStack();
    }
    ++LiveComponentCount;
}

TIdComponent::~TIdComponent() {
    --LiveComponentCount;
    if (LiveComponentCount == 0) {
        delete GlobalStack;
        GlobalStack = nullptr;
    }
}

void TIdComponent::NotifyWorkBegin(TWorkMode mode, int32_t countMax) {
    TWorkProgress& progress = FWorkProgress[mode];
    ++progress.Level;
    if (progress.Level == 1) {
        progress.Count = 0;
        if (OnWorkBegin) {
            OnWorkBegin(this, mode, countMax);
        }
    }
}

void TIdComponent::NotifyWork(TWorkMode mode, int32_t count) {
    TWorkProgress& progress = FWorkProgress[mode];
    if (progress.Level <= 0) {
        return;
    }
    progress.Count = WrappingAdd(progress.Count, count);
    if (OnWork) {
        OnWork(this, mode, progress.Count);
    }
}

void TIdComponent::NotifyWorkEnd(TWorkMode mode) {
    TWorkProgress& progress = FWorkProgress[mode];
    if (progress.Level == 1 && OnWorkEnd) {
        OnWorkEnd(this, mode);
    }
    --progress.Level;
}
