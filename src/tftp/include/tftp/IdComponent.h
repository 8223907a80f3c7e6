// The base of every network component: work progress events, and the life of GlobalStack (the
// first component creates it, the last one destroys it).
#pragma once

#include "net/IdBaseComponent.h"

#include <cstdint>
#include <functional>
#include <string>

enum TWorkMode : uint8_t { WorkModeRead = 0, WorkModeWrite = 1 };

// No operation produces a status; the type exists for the event's signature.
enum class TIdStatus : uint8_t {
    hsResolving,
    hsConnecting,
    hsConnected,
    hsDisconnecting,
    hsDisconnected,
    hsStatusText
};

// Events are bound callables; an unset one is skipped.
using TIdStatusEvent =
    std::function<void(TObject* axSender, TIdStatus axStatus, const std::string& asStatusText)>;
using TWorkEvent = std::function<void(TObject* Sender, TWorkMode AWorkMode, int32_t AWorkCount)>;
using TWorkBeginEvent =
    std::function<void(TObject* Sender, TWorkMode AWorkMode, int32_t AWorkCountMax)>;
using TWorkEndEvent = std::function<void(TObject* Sender, TWorkMode AWorkMode)>;

struct TWorkProgress {
    int32_t Count = 0; // running count since the outermost begin
    int32_t Level = 0; // begins not yet matched by an end
};

class TIdComponent : public TIdBaseComponent {
public:
    // Creates GlobalStack when there is none; a failure leaves GlobalStack and the count as they
    // were and passes out of the constructor.
    explicit TIdComponent(TComponent* owner);
    ~TIdComponent() override;

    virtual void NotifyWorkBegin(TWorkMode mode, int32_t countMax);
    virtual void NotifyWork(TWorkMode mode, int32_t count);
    virtual void NotifyWorkEnd(TWorkMode mode);

    TIdStatusEvent OnStatus;
    TWorkEvent OnWork;
    TWorkBeginEvent OnWorkBegin;
    TWorkEndEvent OnWorkEnd;

    const TWorkProgress& WorkProgress(TWorkMode mode) const { return FWorkProgress[mode]; }

private:
    TWorkProgress FWorkProgress[2];
};

// The number of TIdComponent objects alive.
extern int32_t LiveComponentCount;
