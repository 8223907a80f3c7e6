// A stack that records the socket calls of the code under test and passes each one on to the
// real stack. StackSpy puts one in front of GlobalStack for its own life: declare it after the
// components, so that it is gone before the last component destroys GlobalStack.
#pragma once

#include "net/IdStack.h"

#include <string>
#include <vector>

namespace tftptest {

class SpyStack : public TIdStack {
public:
    explicit SpyStack(TIdStack& real) : FReal(real) {}

    struct OptionCall {
        TSocketId Socket;
        int32_t Level;
        int32_t Name;
        int32_t Value; // the first four bytes of the value
        int32_t Length;
    };
    struct SendCall {
        TSocketId Socket;
        std::string IP;
        int32_t Port;
        std::string Bytes;
    };

    int Creates = 0;
    std::vector<TSocketId> Closes;
    std::vector<int32_t> Shutdowns; // the how argument
    std::vector<OptionCall> Options;
    std::vector<SendCall> Sends;
    std::vector<int32_t> SelectTimeouts;
    std::vector<std::string> Lookups;
    // Errors that the next receives fail with, one each, in order; the datagram stays queued.
    std::vector<int32_t> ReceiveFailures;
    // Errors that the next sends fail with, one each, in order; nothing is sent (recorded in
    // Sends all the same).
    std::vector<int32_t> SendFailures;

    void RefreshLocalAddresses() override { FReal.RefreshLocalAddresses(); }
    std::string FirstLocalAddress() override { return FReal.FirstLocalAddress(); }
    TIdStrings* LocalAddressList() override { return FReal.LocalAddressList(); }
    TSocketId SockAccept(TSocketId s, std::string& ip, int32_t& port) override {
        return FReal.SockAccept(s, ip, port);
    }
    int32_t SockBind(TSocketId s, uint16_t family, const std::string& ip, int32_t port) override {
        return FReal.SockBind(s, family, ip, port);
    }
    int32_t SockClose(TSocketId s) override {
        Closes.push_back(s);
        return FReal.SockClose(s);
    }
    int32_t SockConnect(TSocketId s, uint16_t family, const std::string& ip,
                        int32_t port) override {
        return FReal.SockConnect(s, family, ip, port);
    }
    std::string LookupHostAddress(const std::string& host) override {
        Lookups.push_back(host);
        return FReal.LookupHostAddress(host);
    }
    std::string LocalHostName() override { return FReal.LocalHostName(); }
    std::string LookupHostName(const std::string& address) override {
        return FReal.LookupHostName(address);
    }
    int32_t LookupServicePort(const std::string& service) override {
        return FReal.LookupServicePort(service);
    }
    std::unique_ptr<TIdStrings> LookupServiceNames(int32_t port) override {
        return FReal.LookupServiceNames(port);
    }
    uint16_t HostToNetShort(uint16_t v) override { return FReal.HostToNetShort(v); }
    int32_t SockListen(TSocketId s, int32_t backlog) override {
        return FReal.SockListen(s, backlog);
    }
    uint16_t NetToHostShort(uint16_t v) override { return FReal.NetToHostShort(v); }
    uint32_t HostToNetLong(uint32_t v) override { return FReal.HostToNetLong(v); }
    uint32_t NetToHostLong(uint32_t v) override { return FReal.NetToHostLong(v); }
    int32_t SockRecv(TSocketId s, void* buffer, int32_t length, int32_t flags) override {
        return FReal.SockRecv(s, buffer, length, flags);
    }
    int32_t SockRecvFromEndpoint(TSocketId s, void* buffer, int32_t length, int32_t flags,
                                 TIdEndpoint& from) override {
        FInjectedError = 0;
        if (!ReceiveFailures.empty()) {
            FInjectedError = ReceiveFailures.front();
            ReceiveFailures.erase(ReceiveFailures.begin());
            from = TIdEndpoint::IPv4({0, 0, 0, 0}, 0);
            return SocketFailure;
        }
        return FReal.SockRecvFromEndpoint(s, buffer, length, flags, from);
    }
    int32_t SockSelect(TIdSocketList* readList, TIdSocketList* writeList, TIdSocketList* errorList,
                       int32_t timeout) override {
        SelectTimeouts.push_back(timeout);
        return FReal.SockSelect(readList, writeList, errorList, timeout);
    }
    int32_t SockSend(TSocketId s, const void* buffer, int32_t length, int32_t flags) override {
        return FReal.SockSend(s, buffer, length, flags);
    }
    int32_t SockSendToEndpoint(TSocketId s, const void* buffer, int32_t length, int32_t flags,
                               const TIdEndpoint& to) override {
        Sends.push_back({s, to.AddressText(), to.Port,
                         std::string(static_cast<const char*>(buffer),
                                     static_cast<size_t>(length > 0 ? length : 0))});
        FInjectedError = 0;
        if (!SendFailures.empty()) {
            FInjectedError = SendFailures.front();
            SendFailures.erase(SendFailures.begin());
            return SocketFailure;
        }
        return FReal.SockSendToEndpoint(s, buffer, length, flags, to);
    }
    int32_t SockSetOption(TSocketId s, int32_t level, int32_t name, const void* value,
                          int32_t length) override {
        int32_t first = 0;
        if (value != nullptr && length >= 4) {
            first = *static_cast<const int32_t*>(value);
        }
        Options.push_back({s, level, name, first, length});
        return FReal.SockSetOption(s, level, name, value, length);
    }
    TSocketId SockCreate(int32_t family, int32_t type, int32_t protocol) override {
        ++Creates;
        return FReal.SockCreate(family, type, protocol);
    }
    int32_t SockShutdown(TSocketId s, int32_t how) override {
        Shutdowns.push_back(how);
        return FReal.SockShutdown(s, how);
    }
    std::string SocketErrorText(int32_t code) override { return FReal.SocketErrorText(code); }
    int32_t LastSocketError() override {
        return FInjectedError != 0 ? FInjectedError : FReal.LastSocketError();
    }
    void PeerAddressOf(TSocketId s, int32_t& family, std::string& ip, int32_t& port) override {
        FReal.PeerAddressOf(s, family, ip, port);
    }
    void LocalAddressOf(TSocketId s, int32_t& family, std::string& ip, int32_t& port) override {
        FReal.LocalAddressOf(s, family, ip, port);
    }
    std::string InAddrToText(const TIdInAddrBytes& bytes) override {
        return FReal.InAddrToText(bytes);
    }
    void TextToInAddrBytes(const std::string& text, TIdInAddrBytes& bytes) override {
        FReal.TextToInAddrBytes(text, bytes);
    }

private:
    TIdStack& FReal;
    int32_t FInjectedError = 0;
};

// Puts a SpyStack in front of GlobalStack (which must exist) while it lives.
class StackSpy {
public:
    StackSpy() : FReal(GlobalStack), FSpy(*GlobalStack) { GlobalStack = &FSpy; }
    ~StackSpy() { GlobalStack = FReal; }
    StackSpy(const StackSpy&) = delete;
    StackSpy& operator=(const StackSpy&) = delete;

    SpyStack* operator->() { return &FSpy; }
    SpyStack& operator*() { return FSpy; }

private:
    TIdStack* FReal;
    SpyStack FSpy;
};

} // namespace tftptest
