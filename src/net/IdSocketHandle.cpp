#include "net/IdSocketHandle.h"

#include "net/IdAntiFreezeBase.h"
#include "net/Idexception.h"

#include <typeinfo>

TIdSocketHandle::TIdSocketHandle(TCollection* collection) : TCollectionItem(collection) {
    ClearState(true);
}

TIdSocketHandle::~TIdSocketHandle() {
    Close(true);
}

void TIdSocketHandle::AcquireSocket(int32_t socketType, int32_t protocol) {
    Close(true);
    FSocket = GlobalStack->OpenSocket(socketType, protocol);
    FSocketAllocated = true;
}

void TIdSocketHandle::Close(bool localReset) {
    if (!FSocketAllocated) {
        return;
    }
    FSocketAllocated = false;
    // Without a stack there is nobody to close through; the state is cleared all the same.
    if (GlobalStack != nullptr) {
        GlobalStack->SockShutdown(FSocket, Id_SD_Send);
        GlobalStack->SockClose(FSocket);
    }
    ClearState(localReset);
}

void TIdSocketHandle::ClearState(bool localReset) {
    FSocketAllocated = false;
    FSocket = InvalidSocketId;
    if (localReset) {
        FIP.clear();
        FPort = 0;
    }
    FRemoteIP.clear();
    FRemotePort = 0;
}

void TIdSocketHandle::SendDatagram(const std::string& ip, int32_t port, const void* buffer,
                                   int32_t size) {
    TIdInAddrBytes bytes{};
    GlobalStack->TextToInAddrBytes(ip, bytes);
    SendDatagram(TIdEndpoint::IPv4(bytes, static_cast<uint16_t>(port)), buffer, size);
}

void TIdSocketHandle::SendDatagram(const TIdEndpoint& to, const void* buffer, int32_t size) {
    const int32_t sent = GlobalStack->SockSendToEndpoint(FSocket, buffer, size, 0, to);
    if (sent == SocketFailure) {
        if (GlobalStack->LastSocketError() == Id_WSAEMSGSIZE) {
            throw EIdPackageSizeTooBig(IdText::PackageSizeTooBig);
        }
        GlobalStack->CheckSocketResult(SocketFailure);
    } else if (sent != size) {
        throw EIdNotAllBytesSent(IdText::NotAllBytesSent);
    }
}

int32_t TIdSocketHandle::ReceiveDatagram(void* buffer, int32_t capacity, int32_t flags,
                                         TIdEndpoint& from) {
    return GlobalStack->SockRecvFromEndpoint(FSocket, buffer, capacity, flags, from);
}

int32_t TIdSocketHandle::ReceiveDatagram(void* buffer, int32_t capacity, int32_t flags,
                                         std::string& ip, int32_t& port) {
    TIdEndpoint from;
    const int32_t result = ReceiveDatagram(buffer, capacity, flags, from);
    ip = GlobalStack->InAddrToText(from.InAddr());
    port = from.Port;
    return result;
}

bool TIdSocketHandle::WaitReadable(int32_t timeout) {
    // One select on the socket, then the anti-freeze's turn. The socket is tested before every
    // piece, as the pending work may have closed it.
    auto piece = [this](int32_t length) {
        if (!FSocketAllocated) {
            throw EIdConnClosedGracefully(IdText::ConnClosedGracefully);
        }
        FReadList.assign(1, FSocket);
        const bool readable = GlobalStack->SockSelect(&FReadList, nullptr, nullptr, length) == 1;
        TIdAntiFreezeBase::ProcessPendingIfDue(!readable, false);
        return readable;
    };

    // The IdleTimeOut read here serves the whole wait, also should the anti-freeze go away
    // while its pieces run.
    const TIdAntiFreezeBase* antiFreeze = GlobalAntiFreeze;
    const int32_t idle =
        antiFreeze != nullptr && antiFreeze->Active() ? antiFreeze->IdleTimeOut() : 0;
    // Without an active anti-freeze the wait is one select. A non-positive IdleTimeOut cannot cut
    // a wait into pieces (they would never add up), so it waits in one piece too.
    if (idle <= 0) {
        return piece(timeout);
    }
    if (timeout == NoTimeLimit) {
        while (!piece(idle)) {
        }
        return true;
    }
    if (timeout <= idle) {
        return piece(timeout);
    }
    // A long wait: first the remainder, then whole pieces of IdleTimeOut, so that the last pieces
    // are the full ones. Counted in a loop rather than by recursion, which a wait of days in
    // pieces of a quarter second would take millions of frames deep.
    const int64_t pieces = (static_cast<int64_t>(timeout) - 1) / idle;
    const auto first = static_cast<int32_t>(timeout - pieces * idle);
    if (piece(first)) {
        return true;
    }
    for (int64_t i = 0; i < pieces; ++i) {
        if (piece(idle)) {
            return true;
        }
    }
    return false;
}

void TIdSocketHandle::SetOption(int32_t level, int32_t name, const void* value, int32_t length) {
    GlobalStack->CheckSocketResult(GlobalStack->SockSetOption(FSocket, level, name, value, length));
}

int32_t TIdSocketHandle::ConnectRemote(int32_t family) {
    const int32_t result =
        GlobalStack->SockConnect(FSocket, static_cast<uint16_t>(family), FRemoteIP, FRemotePort);
    if (result != SocketFailure) {
        RefreshLocalBinding();
        RefreshRemoteBinding();
    }
    return result;
}

void TIdSocketHandle::RefreshLocalBinding() {
    int32_t family = 0;
    GlobalStack->LocalAddressOf(FSocket, family, FIP, FPort);
}

void TIdSocketHandle::RefreshRemoteBinding() {
    int32_t family = 0;
    GlobalStack->PeerAddressOf(FSocket, family, FRemoteIP, FRemotePort);
}

void TIdSocketHandle::Assign(const TObject& source) {
    if (typeid(source) == typeid(*this)) {
        const auto& handle = static_cast<const TIdSocketHandle&>(source);
        FIP = handle.FIP;
        FPort = handle.FPort;
        FRemoteIP = handle.FRemoteIP;
        FRemotePort = handle.FRemotePort;
        return;
    }
    TCollectionItem::Assign(source);
}
