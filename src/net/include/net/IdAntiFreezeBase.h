// The base of a component that lets the user interface work while the network code waits on a
// socket: the socket handle cuts long waits into pieces of IdleTimeOut and calls
// ProcessPendingIfDue after each piece. The tool registers none, so its waits block.
#pragma once

#include "net/IdBaseComponent.h"

#include <cstdint>

class TIdAntiFreezeBase : public TIdBaseComponent {
public:
    // Registers the new object as GlobalAntiFreeze; in design state a second one raises
    // EIdMoreThanOneTIdAntiFreeze.
    explicit TIdAntiFreezeBase(TComponent* owner);
    // Unregisters GlobalAntiFreeze, whichever object it is.
    ~TIdAntiFreezeBase() override;

    bool Active() const { return FActive; }
    void SetActive(bool value) { FActive = value; }
    bool ApplicationHasPriority() const { return FApplicationHasPriority; }
    void SetApplicationHasPriority(bool value) { FApplicationHasPriority = value; }
    int32_t IdleTimeOut() const { return FIdleTimeOut; }
    void SetIdleTimeOut(int32_t value) { FIdleTimeOut = value; }
    bool OnlyWhenIdle() const { return FOnlyWhenIdle; }
    void SetOnlyWhenIdle(bool value) { FOnlyWhenIdle = value; }

    virtual void ProcessPending() = 0;

    // Calls ProcessPending of the registered, active anti-freeze on the main thread when idle,
    // when it does not wait for idleness, or when override is set.
    static void ProcessPendingIfDue(bool idle, bool override);

private:
    bool FActive = true;
    bool FApplicationHasPriority = true;
    int32_t FIdleTimeOut = 250;
    bool FOnlyWhenIdle = true;
};

extern TIdAntiFreezeBase* GlobalAntiFreeze;
