// The platform's binding (BSD sockets, or wsock32.dll on Windows), on real sockets bound to
// 127.0.0.1.
#include "FakeStack.h"
#include "net/IdSocketHandle.h"
#include "net/IdStackWinsock.h"
#include "net/Idexception.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#include <winsock.h>
#else
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

using TCalls = std::vector<std::string>;

// --- what the test reads from the system itself -----------------------------------------------

#if defined(_WIN32)

constexpr bool OnWindows = true;

// Whether the socket has the broadcast option on, read back with the library's own getsockopt
// (the stack keeps the library loaded; nothing links it).
bool BroadcastIsOn(TSocketId socket) {
    const auto getOption = reinterpret_cast<decltype(&::getsockopt)>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("wsock32.dll"), "getsockopt")));
    int value = -7;
    int length = sizeof value;
    EXPECT_EQ(getOption(static_cast<SOCKET>(socket), SOL_SOCKET, SO_BROADCAST,
                        reinterpret_cast<char*>(&value), &length),
              0);
    return value != 0;
}

bool IsInheritable(TSocketId socket) {
    DWORD flags = 0;
    EXPECT_TRUE(::GetHandleInformation(reinterpret_cast<HANDLE>(uintptr_t{socket}), &flags));
    return (flags & HANDLE_FLAG_INHERIT) != 0;
}

// A handle of the system that is no socket. (An event: Wine answers some calls on file handles
// with other codes than Windows does.)
class TNotASocket {
public:
    TNotASocket() : FHandle(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~TNotASocket() { ::CloseHandle(FHandle); }
    TSocketId Id() const { return static_cast<TSocketId>(reinterpret_cast<uintptr_t>(FHandle)); }

private:
    HANDLE FHandle;
};

#else

constexpr bool OnWindows = false;

bool BroadcastIsOn(TSocketId socket) {
    int value = -7;
    socklen_t length = sizeof value;
    EXPECT_EQ(getsockopt(static_cast<int>(socket), SOL_SOCKET, SO_BROADCAST, &value, &length), 0);
    return value != 0;
}

bool IsInheritable(TSocketId socket) {
    return (fcntl(static_cast<int>(socket), F_GETFD) & FD_CLOEXEC) == 0;
}

class TNotASocket {
public:
    TNotASocket() { EXPECT_EQ(pipe(FEnds), 0); }
    ~TNotASocket() {
        close(FEnds[0]);
        close(FEnds[1]);
    }
    TSocketId Id() const { return static_cast<TSocketId>(FEnds[0]); }

private:
    int FEnds[2] = {-1, -1};
};

#endif

// --- the construction seam --------------------------------------------------------------------

class TRecordingService : public TIdSocketLibraryService {
public:
    bool LoadResult = true;
    int32_t StartupResult = 0;
    bool UnloadRaises = false;
    TCalls Calls;

    bool Load(const std::string& name) override {
        Calls.push_back("load " + name);
        return LoadResult;
    }
    int32_t Startup(uint16_t version, TIdStartupReply& reply) override {
        Calls.push_back("startup " + std::to_string(version));
        reply.Version = 0x0101;
        reply.HighVersion = 0x0202;
        reply.Description = "recorded";
        reply.SystemStatus = "fine";
        reply.MaxSockets = 100;
        reply.MaxUdpDg = 512;
        return StartupResult;
    }
    int32_t CancelBlockingCall() override {
        Calls.push_back("cancel");
        return -1;
    }
    int32_t Cleanup() override {
        Calls.push_back("cleanup");
        return -1;
    }
    void Unload() override {
        Calls.push_back("unload");
        if (UnloadRaises) {
            throw EIdException("late failure");
        }
    }
};

TEST(StackConstruction, LoadAndStartupFailures) {
    struct Case {
        bool load;
        int32_t startup;
        bool unloadRaises;
        const char* message;
        TCalls calls;
    };
    const Case cases[] = {
        {false, 0, false, "wsock32.dll could not be loaded.", {"load wsock32.dll"}},
        {true,
         10091,
         false,
         "Winsock Initialization Error.",
         {"load wsock32.dll", "startup 257", "unload"}},
        {true,
         10091,
         true,
         "Winsock Initialization Error.",
         {"load wsock32.dll", "startup 257", "unload"}},
    };
    for (const Case& c : cases) {
        TRecordingService service;
        service.LoadResult = c.load;
        service.StartupResult = c.startup;
        service.UnloadRaises = c.unloadRaises;
        const TSeamOverride<TIdSocketLibraryService> inUse(SocketLibraryService, service);
        try {
            TIdStackWinsock stack;
            ADD_FAILURE() << c.message;
        } catch (const EIdStackCanNotLoadWinsock& e) {
            EXPECT_FALSE(c.load);
            EXPECT_EQ(e.Message(), c.message);
        } catch (const EIdStackInitializationFailed& e) {
            EXPECT_TRUE(c.load);
            EXPECT_EQ(e.Message(), c.message);
        }
        EXPECT_EQ(service.Calls, c.calls) << c.message;
    }
}

TEST(StackConstruction, LifeOfAStartedStack) {
    TRecordingService service;
    {
        const TSeamOverride<TIdSocketLibraryService> inUse(SocketLibraryService, service);
        TIdStackWinsock stack;
        EXPECT_EQ(service.Calls, (TCalls{"load wsock32.dll", "startup 257"}));
        const TIdStackVersion* version = stack.VersionInfo();
        ASSERT_NE(version, nullptr);
        EXPECT_EQ(version->StackName, "Winsock stack");
        EXPECT_EQ(version->AgreedVersion, 0x0101);
        EXPECT_EQ(version->HighestVersion, 0x0202);
        EXPECT_EQ(version->DescriptionText, "recorded");
        EXPECT_EQ(version->StatusText, "fine");
        EXPECT_EQ(version->SocketLimit, 100u);
        EXPECT_EQ(version->DatagramLimit, 512u);
    }
    EXPECT_EQ(service.Calls,
              (TCalls{"load wsock32.dll", "startup 257", "cancel", "cleanup", "unload"}));
}

TEST(StackConstruction, DefaultStackUsesTheReplaceableService) {
    TRecordingService service;
    service.LoadResult = false;
    {
        const TSeamOverride<TIdSocketLibraryService> inUse(SocketLibraryService, service);
        EXPECT_THROW(delete TIdStack::MakeDefaultStack(), EIdStackCanNotLoadWinsock);
    }
    EXPECT_EQ(GlobalStack, nullptr);

    std::unique_ptr<TIdStack> stack(TIdStack::MakeDefaultStack());
    ASSERT_NE(dynamic_cast<TIdStackWinsock*>(stack.get()), nullptr);
    const TIdStackVersion* version = stack->VersionInfo();
    EXPECT_EQ(version->StackName, "Winsock stack");
    EXPECT_EQ(version->AgreedVersion, 0x0101);
    EXPECT_GT(version->SocketLimit, 0u);
    if (OnWindows) {
        // What the service says of itself.
        EXPECT_GE(version->HighestVersion, 0x0101);
        EXPECT_FALSE(version->DescriptionText.empty());
        EXPECT_GT(version->DatagramLimit, 512u);
    } else {
        EXPECT_EQ(version->DatagramLimit, 65507u);
        EXPECT_EQ(version->StatusText, "Running");
    }
}

// --- real sockets -----------------------------------------------------------------------------

class RealSockets : public ::testing::Test {
protected:
    TIdStackWinsock Stack;
    TGlobalStackScope Scope{Stack};
    std::vector<TSocketId> Opened;

    ~RealSockets() override {
        for (TSocketId s : Opened) {
            Stack.SockClose(s);
        }
    }
    // A datagram socket bound to 127.0.0.1 on a port the system picks; returns that port.
    TSocketId Bound(int32_t& port) {
        const TSocketId s = Stack.OpenSocket(Id_SOCK_DGRAM, 0);
        Opened.push_back(s);
        EXPECT_EQ(Stack.SockBind(s, Id_PF_INET, "127.0.0.1", 0), 0);
        int32_t family = 0;
        std::string ip;
        Stack.LocalAddressOf(s, family, ip, port);
        EXPECT_EQ(family, Id_PF_INET);
        EXPECT_EQ(ip, "127.0.0.1");
        EXPECT_GT(port, 0);
        return s;
    }
    TSocketId Bound() {
        int32_t port = 0;
        return Bound(port);
    }
    int32_t SelectRead(TSocketId s, int32_t timeout) {
        TIdSocketList list{s};
        return Stack.SockSelect(&list, nullptr, nullptr, timeout);
    }
};

TEST_F(RealSockets, DatagramCarriesTheSendersAddressAndPort) {
    int32_t rxPort = 0, txPort = 0;
    const TSocketId rx = Bound(rxPort);
    const TSocketId tx = Bound(txPort);
    const std::string data("\x00\x02/\x00octet\x00", 10); // NULs included
    ASSERT_EQ(Stack.SockSendTo(tx, data.data(), 10, 0, "127.0.0.1", rxPort), 10);
    ASSERT_EQ(SelectRead(rx, 2000), 1);
    char buffer[64] = {};
    std::string ip;
    int32_t port = 0;
    ASSERT_EQ(Stack.SockRecvFrom(rx, buffer, sizeof buffer, 0, ip, port), 10);
    EXPECT_EQ(std::string(buffer, 10), data);
    EXPECT_EQ(ip, "127.0.0.1");
    EXPECT_EQ(port, txPort);
}

TEST_F(RealSockets, HandleSendsWaitsAndReceives) {
    TIdSocketHandle rx, tx;
    rx.AcquireSocket(Id_SOCK_DGRAM, 0);
    tx.AcquireSocket(Id_SOCK_DGRAM, 0);
    ASSERT_EQ(Stack.SockBind(rx.Socket(), Id_PF_INET, "127.0.0.1", 0), 0);
    rx.RefreshLocalBinding();
    EXPECT_EQ(rx.IP(), "127.0.0.1");
    EXPECT_FALSE(rx.WaitReadable(0));
    EXPECT_FALSE(rx.WaitReadable(50));

    tx.SendDatagram("127.0.0.1", rx.Port(), "hello", 5);
    tx.RefreshLocalBinding(); // the send bound it to an ephemeral port
    EXPECT_TRUE(rx.WaitReadable(2000));
    char buffer[16];
    std::string ip;
    int32_t port = 0;
    EXPECT_EQ(rx.ReceiveDatagram(buffer, sizeof buffer, 0, ip, port), 5);
    EXPECT_EQ(port, tx.Port());
    EXPECT_EQ(rx.RemotePort(), 0);

    std::vector<char> big(70000);
    EXPECT_THROW(tx.SendDatagram("127.0.0.1", rx.Port(), big.data(), 70000), EIdPackageSizeTooBig);
    EXPECT_THROW(rx.RefreshRemoteBinding(), EIdSocketError); // not connected
}

TEST_F(RealSockets, BroadcastOptionIsWrittenAtSocketLevel) {
    TIdSocketHandle handle;
    handle.AcquireSocket(Id_SOCK_DGRAM, 0);
    for (const int32_t value : {-1, 0, 1, 0}) {
        handle.SetOption(Id_SOL_SOCKET, Id_SO_BROADCAST, &value, 4);
        EXPECT_EQ(BroadcastIsOn(handle.Socket()), value != 0) << value;
    }
    const int32_t one = 1;
    try {
        handle.SetOption(Id_SOL_SOCKET, 0x7777, &one, 4);
        ADD_FAILURE();
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.ErrorCode(), 10042);
    }
}

TEST_F(RealSockets, DatagramLongerThanTheBufferIsMessageTooLong) {
    int32_t rxPort = 0;
    const TSocketId rx = Bound(rxPort);
    const TSocketId tx = Bound();
    const std::string data(100, 'z');
    ASSERT_EQ(Stack.SockSendTo(tx, data.data(), 100, 0, "127.0.0.1", rxPort), 100);
    ASSERT_EQ(SelectRead(rx, 2000), 1);
    char buffer[10];
    std::string ip;
    int32_t port = 0;
    EXPECT_EQ(Stack.SockRecvFrom(rx, buffer, sizeof buffer, 0, ip, port), SocketFailure);
    EXPECT_EQ(Stack.LastSocketError(), 10040);
    EXPECT_EQ(SelectRead(rx, 0), 0) << "the rest of the datagram is gone";
    // Exactly the buffer's size is no truncation.
    ASSERT_EQ(Stack.SockSendTo(tx, data.data(), 10, 0, "127.0.0.1", rxPort), 10);
    ASSERT_EQ(SelectRead(rx, 2000), 1);
    EXPECT_EQ(Stack.SockRecvFrom(rx, buffer, sizeof buffer, 0, ip, port), 10);
}

TEST_F(RealSockets, FailuresCarryWinsockCodes) {
    const TNotASocket notASocket;
    struct Case {
        TSocketId socket;
        int32_t code;
    };
    // BSD sockets tell a bad descriptor from one that is no socket; Winsock has handles only.
    const Case cases[] = {{InvalidSocketId, OnWindows ? 10038 : 10009}, {notASocket.Id(), 10038}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.socket);
        EXPECT_EQ(Stack.SockSendTo(c.socket, "x", 1, 0, "127.0.0.1", 9), SocketFailure);
        EXPECT_EQ(Stack.LastSocketError(), c.code);
        try {
            int32_t family = 0, port = 0;
            std::string ip;
            Stack.LocalAddressOf(c.socket, family, ip, port);
            ADD_FAILURE();
        } catch (const EIdSocketError& e) {
            EXPECT_EQ(e.ErrorCode(), c.code);
        }
    }
    EXPECT_EQ(Stack.SockCreate(Id_PF_INET, 99, 0), InvalidSocketId);
    EXPECT_EQ(Stack.LastSocketError(), OnWindows ? 10044 : 10022); // type not supported, invalid
}

TEST_F(RealSockets, RefusedPortIsConnectionRefused) {
    if (OnWindows) {
        GTEST_SKIP() << "Windows reports a port-unreachable reply as 10054 on the next receive, "
                        "and Wine does not report it at all";
    }
    int32_t closedPort = 0;
    const TSocketId gone = Bound(closedPort);
    Stack.SockClose(gone);
    Opened.pop_back();
    TIdSocketHandle handle;
    handle.AcquireSocket(Id_SOCK_DGRAM, 0);
    ASSERT_EQ(Stack.SockConnect(handle.Socket(), Id_PF_INET, "127.0.0.1", closedPort), 0);
    ASSERT_EQ(Stack.SockSend(handle.Socket(), "x", 1, 0), 1);
    ASSERT_TRUE(handle.WaitReadable(2000)) << "the pending error makes the socket readable";
    char buffer[4];
    EXPECT_EQ(Stack.SockRecv(handle.Socket(), buffer, sizeof buffer, 0), SocketFailure);
    EXPECT_EQ(Stack.LastSocketError(), 10061);
}

TEST_F(RealSockets, LastErrorIsPerThread) {
    EXPECT_EQ(Stack.SockClose(InvalidSocketId), SocketFailure);
    int32_t other = -1;
    std::thread([this, &other] { other = Stack.LastSocketError(); }).join();
    EXPECT_EQ(other, 0);
    EXPECT_EQ(Stack.LastSocketError(), OnWindows ? 10038 : 10009);
}

TEST_F(RealSockets, AddressRules) {
    const TSocketId any = Stack.OpenSocket(Id_SOCK_DGRAM, 0);
    Opened.push_back(any);
    ASSERT_EQ(Stack.SockBind(any, Id_PF_INET, "", 0), 0);
    int32_t family = 0, port = 0;
    std::string ip;
    Stack.LocalAddressOf(any, family, ip, port);
    EXPECT_EQ(ip, "0.0.0.0");
    EXPECT_THROW(Stack.SockConnect(any, Id_PF_INET, "", 69), EConvertError);
    EXPECT_THROW(Stack.SockSendTo(any, "x", 1, 0, "", 69), EConvertError);
    EXPECT_FALSE(IsInheritable(any)) << "programs the tool starts get no socket";

    TIdSocketHandle handle;
    handle.AcquireSocket(Id_SOCK_DGRAM, 0);
    int32_t rxPort = 0;
    Bound(rxPort);
    handle.SetIP("ignored");
    Stack.SockConnect(handle.Socket(), Id_PF_INET, "127.0.0.1", rxPort);
    handle.RefreshRemoteBinding();
    EXPECT_EQ(handle.RemoteIP(), "127.0.0.1");
    EXPECT_EQ(handle.RemotePort(), rxPort);
}

TEST_F(RealSockets, SelectRewritesListsToTheReadyHandles) {
    int32_t readyPort = 0;
    const TSocketId ready = Bound(readyPort);
    const TSocketId tx = Bound();
    ASSERT_EQ(Stack.SockSendTo(tx, "x", 1, 0, "127.0.0.1", readyPort), 1);
    ASSERT_EQ(SelectRead(ready, 2000), 1);

    TIdSocketList full;
    for (int i = 0; i < 63; ++i) {
        full.push_back(Bound());
    }
    full.insert(full.begin() + 30, ready);
    ASSERT_EQ(full.size(), 64u);
    TIdSocketList list = full;
    EXPECT_EQ(Stack.SockSelect(&list, nullptr, nullptr, 0), 1);
    EXPECT_EQ(list, TIdSocketList{ready});

    list = full;
    list.push_back(tx);
    const TIdSocketList tooMany = list;
    TIdSocketList writable{tx};
    try {
        Stack.SockSelect(&writable, &list, nullptr, 0);
        ADD_FAILURE();
    } catch (const EIdStackSetSizeExceeded& e) {
        EXPECT_EQ(e.Message(), "Set Size Exceeded.");
    }
    EXPECT_EQ(list, tooMany);
    EXPECT_EQ(writable, TIdSocketList{tx}) << "no list is changed";

    // A handle ready in two sets counts once per set; a duplicate within a set once.
    TIdSocketList reads{tx, ready, ready}, writes{ready, tx}, errors{ready};
    EXPECT_EQ(Stack.SockSelect(&reads, &writes, &errors, 0), 3);
    EXPECT_EQ(reads, TIdSocketList{ready});
    EXPECT_EQ(writes, (TIdSocketList{ready, tx}));
    EXPECT_TRUE(errors.empty());

    // Nothing to wait for: BSD sockets wait out the time, Winsock refuses an invalid argument.
    TIdSocketList empty;
    const struct {
        TIdSocketList* list;
        int32_t timeout;
    } waits[] = {{nullptr, 0}, {&empty, 10}};
    for (const auto& wait : waits) {
        EXPECT_EQ(Stack.SockSelect(wait.list, nullptr, nullptr, wait.timeout),
                  OnWindows ? SocketFailure : 0);
        if (OnWindows) {
            EXPECT_EQ(Stack.LastSocketError(), 10022);
        }
    }
    EXPECT_TRUE(empty.empty());

    list = {ready};
    EXPECT_EQ(Stack.SockSelect(&list, nullptr, nullptr, NoTimeLimit), 1) << "data was waiting";
}

TEST_F(RealSockets, SelectFailures) {
    const TSocketId s = Bound();
    struct Case {
        TIdSocketList list;
        int32_t timeout, code;
    };
    const Case cases[] = {{{s}, -1, 10022},
                          {{s}, -1000, 10022},
                          {{InvalidSocketId}, 0, 10038},
                          // BSD: the handle is checked first; Winsock: the time value
                          {{InvalidSocketId}, -1, OnWindows ? 10022 : 10038},
                          {{s, InvalidSocketId}, 0, 10038}};
    for (const Case& c : cases) {
        TIdSocketList list = c.list;
        EXPECT_EQ(Stack.SockSelect(&list, nullptr, nullptr, c.timeout), SocketFailure);
        EXPECT_EQ(Stack.LastSocketError(), c.code);
        EXPECT_TRUE(list.empty()) << "no handle is reported ready";
    }
    const TSocketId closed = Stack.OpenSocket(Id_SOCK_DGRAM, 0);
    Stack.SockClose(closed);
    TIdSocketList list{closed};
    EXPECT_EQ(Stack.SockSelect(&list, nullptr, nullptr, 0), SocketFailure);
    EXPECT_EQ(Stack.LastSocketError(), 10038);
}

TEST_F(RealSockets, DescriptorsAboveTheSelectLimitWork) {
#if defined(_WIN32)
    GTEST_SKIP() << "a Winsock set holds handles, not descriptor numbers: no limit to pass";
#else
    constexpr int High = 1500;
    rlimit limit;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    if (limit.rlim_cur <= High) {
        if (limit.rlim_max <= High) {
            GTEST_SKIP() << "descriptor limit too low";
        }
        limit.rlim_cur = High + 1;
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
    }
    int32_t port = 0;
    const TSocketId low = Bound(port);
    ASSERT_EQ(dup2(static_cast<int>(low), High), High);
    const auto high = static_cast<TSocketId>(High);
    Opened.push_back(high);
    EXPECT_EQ(SelectRead(high, 0), 0);
    const TSocketId tx = Bound();
    ASSERT_EQ(Stack.SockSendTo(tx, "abc", 3, 0, "127.0.0.1", port), 3);
    TIdSocketList list{high}, writes{high};
    EXPECT_EQ(Stack.SockSelect(&list, &writes, nullptr, 2000), 2);
    EXPECT_EQ(list, TIdSocketList{high});
    char buffer[8];
    std::string ip;
    EXPECT_EQ(Stack.SockRecvFrom(high, buffer, sizeof buffer, 0, ip, port), 3);
#endif
}

TEST_F(RealSockets, Lookups) {
    EXPECT_EQ(Stack.LookupHostAddress("localhost"), "127.0.0.1");
    EXPECT_EQ(Stack.HostToAddress("localhost"), "127.0.0.1");
    // Names the resolver refuses by itself (an empty label, an embedded NUL): no query leaves
    // the machine.
    for (const std::string& name :
         {std::string("no-such-host..invalid"), std::string("localhost\0.invalid", 18)}) {
        try {
            Stack.LookupHostAddress(name);
            ADD_FAILURE() << name;
        } catch (const EIdSocketError& e) {
            EXPECT_TRUE(e.ErrorCode() == 11001 || e.ErrorCode() == 11002) << e.ErrorCode();
            EXPECT_EQ(e.Message(), "Socket Error # " + std::to_string(e.ErrorCode()) + "\r\n");
        }
    }
    EXPECT_FALSE(Stack.LocalHostName().empty());
    EXPECT_FALSE(Stack.LookupHostName("127.0.0.1").empty());
}

TEST_F(RealSockets, ServiceLookups) {
    EXPECT_EQ(Stack.LookupServicePort("8080"), 8080);
    EXPECT_EQ(Stack.LookupServicePort("$10"), 16);
    for (const char* name : {"nosuchservice", "", "69 "}) {
        try {
            Stack.LookupServicePort(name);
            ADD_FAILURE() << name;
        } catch (const EIdInvalidServiceName& e) {
            EXPECT_EQ(e.Message(), std::string(name) + " is not a valid service.");
        }
    }
    EXPECT_TRUE(Stack.LookupServiceNames(61999)->empty());
    const auto names = Stack.LookupServiceNames(69);
    if (names->empty()) {
        GTEST_SKIP() << "the services database does not know tftp";
    }
    EXPECT_EQ(names->front(), "tftp");
    EXPECT_EQ(Stack.LookupServicePort("tftp"), 69);
}

} // namespace
