#include "net/IdAntiFreezeBase.h"

#include "net/Idexception.h"

TIdAntiFreezeBase* GlobalAntiFreeze = nullptr;

TIdAntiFreezeBase::TIdAntiFreezeBase(TComponent* owner) : TIdBaseComponent(owner) {
    const bool designing =
        ComponentState().Contains(TComponentStateFlag::csDesigning) ||
        (owner != nullptr && owner->ComponentState().Contains(TComponentStateFlag::csDesigning));
    if (designing) {
        // A designer edits the one anti-freeze of the application; a second is refused.
        if (GlobalAntiFreeze != nullptr) {
            throw EIdMoreThanOneTIdAntiFreeze(IdText::OnlyOneAntiFreeze);
        }
    } else {
        GlobalAntiFreeze = this;
    }
}

TIdAntiFreezeBase::~TIdAntiFreezeBase() {
    GlobalAntiFreeze = nullptr;
}

void TIdAntiFreezeBase::ProcessPendingIfDue(bool idle, bool override) {
    TIdAntiFreezeBase* antiFreeze = GlobalAntiFreeze;
    if (antiFreeze == nullptr || !IsMainThread()) {
        return;
    }
    if (antiFreeze->Active() && (idle || !antiFreeze->OnlyWhenIdle() || override)) {
        antiFreeze->ProcessPending();
    }
}
