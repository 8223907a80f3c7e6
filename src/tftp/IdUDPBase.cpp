#include "tftp/IdUDPBase.h"

#include "net/Idexception.h"

#include <algorithm>

TIdUDPBase::TIdUDPBase(TComponent* owner) : TIdComponent(owner) {
    FBufferSize = 8192;
    FReceiveTimeout = NoTimeLimit;
}

TIdUDPBase::~TIdUDPBase() {
    SetActive(false);
    FSocketHandle.reset(); // its destructor closes the socket
}

bool TIdUDPBase::Active() {
    return FPendingActive || (FSocketHandle != nullptr && FSocketHandle->SocketAllocated());
}

void TIdUDPBase::SetActive(bool value) {
    if (value == Active()) {
        return;
    }
    const TComponentState state = ComponentState();
    if (state.Contains(TComponentStateFlag::csLoading) ||
        state.Contains(TComponentStateFlag::csDesigning)) {
        FPendingActive = value;
    } else if (value) {
        SocketHandle();
    } else {
        ReleaseSocketHandle();
    }
}

void TIdUDPBase::SetBroadcastEnabled(bool value) {
    if (value == FBroadcastEnabled) {
        return;
    }
    FBroadcastEnabled = value;
    if (Active()) {
        ApplyBroadcastOption();
    }
}

TIdSocketHandle* TIdUDPBase::SocketHandle() {
    if (FSocketHandle == nullptr) {
        FSocketHandle = std::make_unique<TIdSocketHandle>(nullptr);
    }
    if (!FSocketHandle->SocketAllocated()) {
        FSocketHandle->AcquireSocket(Id_SOCK_DGRAM, 0);
        ApplyBroadcastOption();
    }
    return FSocketHandle.get();
}

void TIdUDPBase::ReleaseSocketHandle() {
    FSocketHandle.reset();
}

void TIdUDPBase::Loaded() {
    TIdComponent::Loaded();
    const bool pending = FPendingActive;
    FPendingActive = false;
    SetActive(pending);
}

void TIdUDPBase::ApplyBroadcastOption() {
    WriteBroadcastOption(FBroadcastEnabled, nullptr);
}

void TIdUDPBase::WriteBroadcastOption(bool enabled, TIdSocketHandle* handle) {
    if (handle == nullptr) {
        handle = SocketHandle();
    }
    const int32_t value = enabled ? -1 : 0;
    handle->SetOption(Id_SOL_SOCKET, Id_SO_BROADCAST, &value, sizeof value);
}

bool TIdUDPBase::ReceiveDatagram(void* buffer, int32_t length, TIdEndpoint& peer, int32_t timeout,
                                 int32_t& count) {
    if (timeout == -1) {
        timeout = FReceiveTimeout;
    }
    TIdSocketHandle* handle = SocketHandle();
    if (!handle->WaitReadable(timeout)) {
        peer = TIdEndpoint();
        count = 0;
        return false;
    }
    count = handle->ReceiveDatagram(buffer, length, 0, peer);
    return true;
}

bool TIdUDPBase::ReceiveDatagram(void* buffer, int32_t length, std::string& peerIP,
                                 int32_t& peerPort, int32_t timeout, int32_t& count) {
    TIdEndpoint peer;
    const bool received = ReceiveDatagram(buffer, length, peer, timeout, count);
    peerIP = received ? GlobalStack->InAddrToText(peer.InAddr()) : std::string();
    peerPort = peer.Port;
    return received;
}

int32_t TIdUDPBase::ReceiveBytes(void* buffer, int32_t length, std::string& peerIP,
                                 int32_t& peerPort, int32_t timeout) {
    int32_t count = 0;
    if (!ReceiveDatagram(buffer, length, peerIP, peerPort, timeout, count)) {
        return 0;
    }
    GlobalStack->CheckSocketResult(count);
    if (count == 0) {
        throw EIdUDPReceiveErrorZeroBytes(IdText::UDPReceiveErrorZeroBytes);
    }
    return count;
}

std::string TIdUDPBase::ReceiveText(std::string& peerIP, int32_t& peerPort, int32_t timeout) {
    std::string text(static_cast<size_t>(std::max(FBufferSize, 0)), '\0');
    const int32_t count =
        ReceiveBytes(text.data(), static_cast<int32_t>(text.size()), peerIP, peerPort, timeout);
    text.resize(static_cast<size_t>(count));
    return text;
}

void TIdUDPBase::SendTextTo(const std::string& host, int32_t port, const std::string& data) {
    SendBytesTo(host, port, data.data(), static_cast<int32_t>(data.size()));
}

void TIdUDPBase::SendBytesTo(const std::string& host, int32_t port, const void* buffer,
                             int32_t count) {
    SendBytesTo(GlobalStack->ResolveEndpoint(host, port), buffer, count);
}

void TIdUDPBase::SendBytesTo(const TIdEndpoint& to, const void* buffer, int32_t count) {
    SocketHandle()->SendDatagram(to, buffer, count);
}
