// What the two bindings of TIdStackWinsock share besides the class itself: the Winsock codes
// they report of their own, the calling thread's last socket error, and the rules both apply
// before the platform is called, so that both report the same code for the same fault. Only the
// binding's own files include it.
#pragma once

#include "net/IdStack.h"
#include "net/IdStackWinsock.h"

#include <cstdint>
#include <string>

namespace WinsockRules {

// Winsock codes the bindings report themselves. (The platform's headers define the WSA names as
// macros, hence the prefix.)
inline constexpr int32_t Id_WSAEINVAL = 10022;
inline constexpr int32_t Id_WSAENOTSOCK = 10038;
inline constexpr int32_t Id_WSAENOPROTOOPT = 10042;
inline constexpr int32_t Id_WSAENOBUFS = 10055;
inline constexpr int32_t Id_WSAHOST_NOT_FOUND = 11001;
inline constexpr int32_t Id_WSATRY_AGAIN = 11002;
inline constexpr int32_t Id_WSANO_RECOVERY = 11003;
inline constexpr int32_t Id_WSANO_DATA = 11004;

// The most handles one list given to SockSelect may hold: the size of a Winsock fd_set.
inline constexpr std::size_t SelectSetSize = 64;

// The calling thread's last socket error, as LastSocketError reports it. A binding records the
// code as soon as a call fails, so that nothing the thread does before the caller reads it (the
// system's own calls included) can change it.
void RecordSocketError(int32_t code);
int32_t RecordedSocketError();

// The service the platform's stacks use unless another one is set.
TIdSocketLibraryService& PlatformLibraryService();

// A negative buffer or value length: true, with 10022 recorded. The platforms disagree on the
// code, or take the length for a huge unsigned one.
bool RefuseNegativeLength(int32_t length);
// A name with a NUL character, which the system would take for the shorter name before it:
// true, with 11001 (host not found) recorded.
bool RefuseUnusableHostName(const std::string& name);
// A service name with a NUL character is not looked up.
bool IsUsableServiceName(const std::string& name);
// Adds a service entry's name and then its aliases, up to the null entry, to the list.
void AddServiceNames(TIdStrings& names, const char* name, char* const* aliases);
// The port of a service that the system does not know: the name read by the integer text rule,
// or EIdInvalidServiceName "%s is not a valid service.".
int32_t PortOfUnlistedService(const std::string& service);

// The three lists of a select: read, write, error; each may be null.
using TSelectLists = TIdSocketList* const[3];
// EIdStackSetSizeExceeded "Set Size Exceeded." when a list holds more than 64 handles; raised
// before any system call, with no list changed.
void CheckSelectListSizes(const TSelectLists& lists);
// A negative time-out other than NoTimeLimit, which select refuses as an invalid time value.
bool IsInvalidSelectTimeout(int32_t timeout);
// A failed select reports no handle ready: every list given is emptied, the code recorded, and
// SocketFailure returned.
int32_t FailSelect(const TSelectLists& lists, int32_t code);

} // namespace WinsockRules
