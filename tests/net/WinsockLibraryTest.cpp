// The Winsock library service on Windows: loading wsock32.dll, finding its entry points and
// starting its service, with the kernel's module calls replaced where a test needs the library
// or one of its entry points to go missing, or the start-up to fail.
#include "FakeStack.h"
#include "net/IdStackWinsock.h"
#include "net/Idexception.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <winsock.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace {

using TCalls = std::vector<std::string>;

TCalls Log;
decltype(&::WSAStartup) RealStartup = nullptr;
decltype(&::WSACleanup) RealCleanup = nullptr;
decltype(&::WSACancelBlockingCall) RealCancel = nullptr;
int StartupRefusal = 0; // 0: the real start-up answers

int WINAPI RecordedStartup(WORD version, LPWSADATA reply) {
    Log.push_back("WSAStartup " + std::to_string(version));
    return StartupRefusal != 0 ? StartupRefusal : RealStartup(version, reply);
}

int WINAPI RecordedCleanup() {
    Log.push_back("WSACleanup");
    return RealCleanup();
}

int WINAPI RecordedCancel() {
    Log.push_back("WSACancelBlockingCall");
    return RealCancel();
}

template <typename F>
void* Recorded(void* real, F& keep, F recorded) {
    keep = reinterpret_cast<F>(real);
    return reinterpret_cast<void*>(recorded);
}

// The system's module calls, recorded, with the start-up and clean-up entries recorded too.
class TRecordingModuleCalls : public TIdModuleCalls {
public:
    bool LoadFails = false;
    std::set<std::string> Missing;

    void* Load(const char* name) override {
        Log.push_back(std::string("load ") + name);
        return LoadFails ? nullptr : SystemModuleCalls().Load(name);
    }
    void* EntryPoint(void* library, const char* name) override {
        void* const real = SystemModuleCalls().EntryPoint(library, name);
        const std::string entry = name;
        if (Missing.count(entry) != 0) {
            return nullptr;
        }
        if (entry == "WSAStartup") {
            return Recorded(real, RealStartup, &RecordedStartup);
        }
        if (entry == "WSACleanup") {
            return Recorded(real, RealCleanup, &RecordedCleanup);
        }
        if (entry == "WSACancelBlockingCall") {
            return Recorded(real, RealCancel, &RecordedCancel);
        }
        return real;
    }
    void Release(void* library) override {
        Log.push_back("release");
        SystemModuleCalls().Release(library);
    }
};

class WinsockLibrary : public ::testing::Test {
protected:
    WinsockLibrary() {
        Log.clear();
        StartupRefusal = 0;
    }
    TRecordingModuleCalls Calls;
    TSeamOverride<TIdModuleCalls> CallsInUse{ModuleCalls, Calls};
    TIdWinsockLibraryService Service;
    TSeamOverride<TIdSocketLibraryService> ServiceInUse{SocketLibraryService, Service};
};

TEST_F(WinsockLibrary, StartUpFailuresLeaveNothingLoaded) {
    const TCalls loadOnly = {"load wsock32.dll"};
    const TCalls loadAndRelease = {"load wsock32.dll", "release"};
    const TCalls refusedStart = {"load wsock32.dll", "WSAStartup 257", "release"};
    struct Case {
        const char* name;
        bool loadFails;
        const char* missing;
        int refusal;
        const char* message;
        const TCalls& calls;
    };
    const Case cases[] = {
        {"library missing", true, "", 0, "wsock32.dll could not be loaded.", loadOnly},
        {"a called entry missing", false, "recvfrom", 0, "wsock32.dll could not be loaded.",
         loadAndRelease},
        {"the start-up missing", false, "WSAStartup", 0, "wsock32.dll could not be loaded.",
         loadAndRelease},
        {"start-up refused", false, "", 10091, "Winsock Initialization Error.", refusedStart},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Log.clear();
        Calls.LoadFails = c.loadFails;
        Calls.Missing = {c.missing};
        StartupRefusal = c.refusal;
        try {
            TIdStackWinsock stack;
            ADD_FAILURE() << "built";
        } catch (const EIdException& e) {
            EXPECT_EQ(e.Message(), c.message);
            const bool initialization =
                dynamic_cast<const EIdStackInitializationFailed*>(&e) != nullptr;
            EXPECT_EQ(initialization, c.refusal != 0);
        }
        EXPECT_EQ(Log, c.calls);
    }
}

TEST_F(WinsockLibrary, AStackStartsVersionOneOneAndStopsInOrder) {
    Calls.Missing = {"WSARecvEx", "AcceptEx"}; // looked up, never called: not needed
    {
        TIdStackWinsock stack;
        EXPECT_EQ(Log, (TCalls{"load wsock32.dll", "WSAStartup 257"}));
        EXPECT_EQ(stack.VersionInfo()->AgreedVersion, 0x0101);
        const TSocketId socket = stack.OpenSocket(Id_SOCK_DGRAM, 0);
        EXPECT_EQ(stack.SockClose(socket), 0);
    }
    EXPECT_EQ(Log, (TCalls{"load wsock32.dll", "WSAStartup 257", "WSACancelBlockingCall",
                           "WSACleanup", "release"}));
}

// A stack whose service loads nothing, as the tests of the construction use.
class TEmptyService : public TIdSocketLibraryService {
public:
    bool Load(const std::string&) override { return true; }
    int32_t Startup(uint16_t, TIdStartupReply&) override { return 0; }
    int32_t CancelBlockingCall() override { return 0; }
    int32_t Cleanup() override { return 0; }
    void Unload() override {}
};

TEST_F(WinsockLibrary, WithoutALoadedLibraryCallsFailAsBeforeStartUp) {
    { TIdStackWinsock loadedAndReleased; }
    TEmptyService nothing;
    const TSeamOverride<TIdSocketLibraryService> inUse(SocketLibraryService, nothing);
    TIdStackWinsock stack;
    EXPECT_EQ(stack.SockCreate(Id_PF_INET, Id_SOCK_DGRAM, 0), InvalidSocketId);
    EXPECT_EQ(stack.LastSocketError(), 10093);
    try {
        stack.LookupHostAddress("localhost");
        ADD_FAILURE();
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.ErrorCode(), 10093);
    }
    EXPECT_EQ(stack.HostToNetShort(0x1234), 0x3412) << "byte order needs no library";
    EXPECT_EQ(stack.NetToHostLong(0x01020304u), 0x04030201u);
}

std::string ProgramFolder() {
    char path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::filesystem::path(std::string(path, length)).parent_path().string();
}

TEST(SystemModuleCalls, LoadOnlyFromTheSystemFolder) {
    // A library beside the program, where the normal search looks first (built with the tests).
    const char* planted = "zeb40-planted.dll";
    ASSERT_TRUE(std::filesystem::exists(ProgramFolder() + "\\" + planted));
    const HMODULE found = ::LoadLibraryA(planted);
    ASSERT_NE(found, nullptr) << "the normal search finds it";
    ::FreeLibrary(found);
    EXPECT_EQ(SystemModuleCalls().Load(planted), nullptr);

    void* const library = SystemModuleCalls().Load("wsock32.dll");
    ASSERT_NE(library, nullptr);
    EXPECT_NE(SystemModuleCalls().EntryPoint(library, "recvfrom"), nullptr);
    EXPECT_EQ(SystemModuleCalls().EntryPoint(library, "no such entry"), nullptr);
    SystemModuleCalls().Release(library);
}

TEST(FileTransmit, SendsAWholeFileOverAConnection) {
    ASSERT_NE(FileTransmitHook, nullptr);
    TIdStackWinsock stack;
    TGlobalStackScope scope(stack);
    const TSocketId listener = stack.OpenSocket(Id_SOCK_STREAM, 0);
    ASSERT_EQ(stack.SockBind(listener, Id_PF_INET, "127.0.0.1", 0), 0);
    ASSERT_EQ(stack.SockListen(listener, 1), 0);
    int32_t family = 0, port = 0;
    std::string ip;
    stack.LocalAddressOf(listener, family, ip, port);
    const TSocketId sender = stack.OpenSocket(Id_SOCK_STREAM, 0);
    ASSERT_EQ(stack.SockConnect(sender, Id_PF_INET, "127.0.0.1", port), 0);
    const TSocketId receiver = stack.SockAccept(listener, ip, port);
    ASSERT_NE(receiver, InvalidSocketId);

    std::string bytes(100000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 7 + i / 251);
    }
    const std::string name = (std::filesystem::temp_directory_path() / "zeb40-transmit").string();
    std::ofstream(name, std::ios::binary) << bytes;
    EXPECT_EQ(FileTransmitHook(sender, name), bytes.size());
    EXPECT_EQ(FileTransmitHook(sender, name + ".missing"), 0u);
    stack.SockShutdown(sender, Id_SD_Send);

    std::string received;
    char buffer[8192];
    for (;;) {
        TIdSocketList readable{receiver};
        ASSERT_EQ(stack.SockSelect(&readable, nullptr, nullptr, 5000), 1) << received.size();
        const int32_t got = stack.SockRecv(receiver, buffer, sizeof buffer, 0);
        if (got <= 0) {
            break;
        }
        received.append(buffer, static_cast<size_t>(got));
    }
    EXPECT_EQ(received, bytes);
    std::filesystem::remove(name);
    for (const TSocketId socket : {sender, receiver, listener}) {
        stack.SockClose(socket);
    }
}

} // namespace
