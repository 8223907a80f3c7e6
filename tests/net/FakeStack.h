// A stack that records the calls made to it and answers from a script, for what real sockets
// cannot show: call order, partial sends, error codes on demand, the pieces of a sliced wait.
#pragma once

#include "net/IdStack.h"

#include <deque>
#include <string>
#include <vector>

class TFakeStack : public TIdStack {
public:
    std::vector<std::string> Calls;
    TSocketId NextSocket = 7;
    int32_t SendResult = 0;
    int32_t LastError = 0;
    int LastErrorReads = 0;
    std::deque<int32_t> SelectResults; // exhausted: 0 (time-out)
    std::string LookupAnswer = "10.1.2.3";

    void RefreshLocalAddresses() override {}
    std::string FirstLocalAddress() override { return ""; }
    TIdStrings* LocalAddressList() override { return nullptr; }
    TSocketId SockAccept(TSocketId, std::string&, int32_t&) override { return InvalidSocketId; }
    int32_t SockBind(TSocketId, uint16_t, const std::string&, int32_t) override { return 0; }
    int32_t SockClose(TSocketId socket) override {
        Calls.push_back("close " + std::to_string(socket));
        return SocketFailure; // failures of a close are ignored by the handle
    }
    int32_t SockConnect(TSocketId, uint16_t, const std::string&, int32_t) override { return 0; }
    std::string LookupHostAddress(const std::string& host) override {
        Calls.push_back("lookup " + host);
        return LookupAnswer;
    }
    std::string LocalHostName() override { return ""; }
    std::string LookupHostName(const std::string&) override { return ""; }
    int32_t LookupServicePort(const std::string&) override { return 0; }
    std::unique_ptr<TIdStrings> LookupServiceNames(int32_t) override { return nullptr; }
    uint16_t HostToNetShort(uint16_t v) override { return v; }
    int32_t SockListen(TSocketId, int32_t) override { return 0; }
    uint16_t NetToHostShort(uint16_t v) override { return v; }
    uint32_t HostToNetLong(uint32_t v) override { return v; }
    uint32_t NetToHostLong(uint32_t v) override { return v; }
    int32_t SockRecv(TSocketId, void*, int32_t, int32_t) override { return 0; }
    int32_t SockRecvFromEndpoint(TSocketId, void*, int32_t, int32_t, TIdEndpoint& from) override {
        Calls.push_back("recvfrom");
        from = TIdEndpoint::IPv4({127, 0, 0, 9}, 4242);
        return 12;
    }
    int32_t SockSelect(TIdSocketList* readList, TIdSocketList*, TIdSocketList*,
                       int32_t timeout) override {
        Calls.push_back("select " + std::to_string(timeout));
        int32_t result = 0;
        if (!SelectResults.empty()) {
            result = SelectResults.front();
            SelectResults.pop_front();
        }
        if (result != 1 && readList != nullptr) {
            readList->clear();
        }
        return result;
    }
    int32_t SockSend(TSocketId, const void*, int32_t, int32_t) override { return 0; }
    int32_t SockSendToEndpoint(TSocketId socket, const void*, int32_t length, int32_t,
                               const TIdEndpoint& to) override {
        Calls.push_back("sendto " + std::to_string(socket) + " " + std::to_string(length) + " " +
                        to.Text());
        return SendResult;
    }
    int32_t SockSetOption(TSocketId, int32_t, int32_t, const void*, int32_t) override { return 0; }
    TSocketId SockCreate(int32_t family, int32_t type, int32_t protocol) override {
        Calls.push_back("create " + std::to_string(family) + " " + std::to_string(type) + " " +
                        std::to_string(protocol));
        return NextSocket;
    }
    int32_t SockShutdown(TSocketId socket, int32_t how) override {
        Calls.push_back("shutdown " + std::to_string(socket) + " " + std::to_string(how));
        return SocketFailure;
    }
    int32_t LastSocketError() override {
        ++LastErrorReads;
        return LastError;
    }
    void PeerAddressOf(TSocketId, int32_t&, std::string&, int32_t&) override {}
    void LocalAddressOf(TSocketId, int32_t&, std::string&, int32_t&) override {}
    std::string InAddrToText(const TIdInAddrBytes& bytes) override {
        return DefaultInAddrToText(bytes);
    }
    void TextToInAddrBytes(const std::string& text, TIdInAddrBytes& bytes) override {
        DefaultTextToInAddrBytes(text, bytes);
    }
};

// Installs a stack as GlobalStack for the life of a test.
class TGlobalStackScope {
public:
    explicit TGlobalStackScope(TIdStack& stack) : FSaved(GlobalStack) { GlobalStack = &stack; }
    ~TGlobalStackScope() { GlobalStack = FSaved; }
    TGlobalStackScope(const TGlobalStackScope&) = delete;
    TGlobalStackScope& operator=(const TGlobalStackScope&) = delete;

private:
    TIdStack* FSaved;
};
