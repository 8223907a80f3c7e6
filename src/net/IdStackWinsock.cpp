// The parts of TIdStackWinsock that are the same on every platform: building and tearing down
// the stack through the socket library service, the version record, the local address list,
// the address conversions, the last error, and the rules the bindings share
// (IdStackWinsockRules.h). The platform calls are in IdStackWinsockPosix.cpp (BSD sockets) and
// IdStackWinsockWin32.cpp (wsock32.dll).
#include "net/IdStackWinsock.h"

#include "base/Format.h"
#include "base/IntegerText.h"
#include "net/IdStackWinsockRules.h"
#include "net/Idexception.h"

#include <algorithm>

namespace WinsockRules {

namespace {

thread_local int32_t LastError = 0;

} // namespace

void RecordSocketError(int32_t code) {
    LastError = code;
}

int32_t RecordedSocketError() {
    return LastError;
}

bool RefuseNegativeLength(int32_t length) {
    if (length >= 0) {
        return false;
    }
    RecordSocketError(Id_WSAEINVAL);
    return true;
}

bool RefuseUnusableHostName(const std::string& name) {
    if (name.find('\0') == std::string::npos) {
        return false;
    }
    RecordSocketError(Id_WSAHOST_NOT_FOUND);
    return true;
}

bool IsUsableServiceName(const std::string& name) {
    return name.find('\0') == std::string::npos;
}

void AddServiceNames(TIdStrings& names, const char* name, char* const* aliases) {
    names.emplace_back(name);
    for (char* const* alias = aliases; alias != nullptr && *alias != nullptr; ++alias) {
        names.emplace_back(*alias);
    }
}

int32_t PortOfUnlistedService(const std::string& service) {
    int32_t port = 0;
    if (!TryTextToInt(service, port)) {
        throw EIdInvalidServiceName(Format(IdText::InvalidServiceName, service.c_str()));
    }
    return port;
}

void CheckSelectListSizes(const TSelectLists& lists) {
    for (const TIdSocketList* list : lists) {
        if (list != nullptr && list->size() > SelectSetSize) {
            throw EIdStackSetSizeExceeded(IdText::SetSizeExceeded);
        }
    }
}

bool IsInvalidSelectTimeout(int32_t timeout) {
    return timeout < 0 && timeout != NoTimeLimit;
}

int32_t FailSelect(const TSelectLists& lists, int32_t code) {
    for (TIdSocketList* list : lists) {
        if (list != nullptr) {
            list->clear();
        }
    }
    RecordSocketError(code);
    return SocketFailure;
}

} // namespace WinsockRules

TSeam<TIdSocketLibraryService> SocketLibraryService(&WinsockRules::PlatformLibraryService);

TIdStackVersionWinsock::TIdStackVersionWinsock(const TIdStartupReply& reply) {
    DatagramLimit = reply.MaxUdpDg;
    SocketLimit = reply.MaxSockets;
    HighestVersion = reply.HighVersion;
    AgreedVersion = reply.Version;
    DescriptionText = reply.Description;
    StatusText = reply.SystemStatus;
    StackName = "Winsock stack";
}

TIdStackWinsock::TIdStackWinsock() : FService(SocketLibraryService()) {
    try {
        LoadSocketLibrary();
        TIdStartupReply reply;
        if (FService.Startup(0x0101, reply) != 0) {
            throw EIdStackInitializationFailed(IdText::WinsockInitializationError);
        }
        FServiceStarted = true;
        FVersionInfo = std::make_unique<TIdStackVersionWinsock>(reply);
    } catch (...) {
        // The destructor does not run for a stack whose construction failed.
        TearDown();
        throw;
    }
}

TIdStackWinsock::~TIdStackWinsock() {
    TearDown();
    FVersionInfo.reset();
}

void TIdStackWinsock::LoadSocketLibrary() {
    if (!FService.Load(IdText::WinsockLibraryName)) {
        throw EIdStackCanNotLoadWinsock(
            Format(IdText::CanNotLoadWinsock, IdText::WinsockLibraryName));
    }
    FLibraryLoaded = true;
}

void TIdStackWinsock::TearDown() noexcept {
    // Only what was reached is undone, and nothing raised here may replace the exception that
    // ended a construction.
    if (FServiceStarted) {
        FServiceStarted = false;
        try {
            FService.CancelBlockingCall();
        } catch (...) {
        }
        try {
            FService.Cleanup();
        } catch (...) {
        }
    }
    if (FLibraryLoaded) {
        FLibraryLoaded = false;
        try {
            FService.Unload();
        } catch (...) {
        }
    }
}

std::string TIdStackWinsock::FirstLocalAddress() {
    TIdStrings* list = LocalAddressList();
    return list->empty() ? std::string() : list->front();
}

TIdStrings* TIdStackWinsock::LocalAddressList() {
    if (!FLocalAddressCache) {
        FLocalAddressCache = std::make_unique<TIdStrings>();
    }
    RefreshLocalAddresses();
    return FLocalAddressCache.get();
}

int32_t TIdStackWinsock::LastSocketError() {
    return WinsockRules::RecordedSocketError();
}

std::string TIdStackWinsock::InAddrToText(const TIdInAddrBytes& bytes) {
    return DefaultInAddrToText(bytes);
}

void TIdStackWinsock::TextToInAddrBytes(const std::string& text, TIdInAddrBytes& bytes) {
    DefaultTextToInAddrBytes(text, bytes);
}
