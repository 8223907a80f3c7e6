// The exception tree of the network code. Every failure of subsystems below the window is one of
// these; callers catch a family through its base (the upgrade run catches EIdTFTPException).
#pragma once

#include "base/Exception.h"

#include <cstdint>
#include <string>

// The message texts of the network code, kept in one table.
namespace IdText {
inline constexpr const char* ConnClosedGracefully = "Connection Closed Gracefully.";
inline constexpr const char* InvalidServiceName = "%s is not a valid service.";
inline constexpr const char* CannotAllocateSocket = "Cannot allocate socket.";
inline constexpr const char* SocketError = "Socket Error # %d\r\n%s";
inline constexpr const char* WinsockInitializationError = "Winsock Initialization Error.";
inline constexpr const char* SetSizeExceeded = "Set Size Exceeded.";
inline constexpr const char* CanNotLoadWinsock = "%s could not be loaded.";
inline constexpr const char* WinsockLibraryName = "wsock32.dll";
inline constexpr const char* PackageSizeTooBig = "Package Size Too Big.";
inline constexpr const char* NotAllBytesSent = "Not all bytes sent.";
inline constexpr const char* UDPReceiveErrorZeroBytes = "UDP Receive Error = 0.";
inline constexpr const char* OnlyOneAntiFreeze =
    "Only one TIdAntiFreeze can exist per application.";
inline constexpr const char* TFTPTimeout = "Timeout";
} // namespace IdText

// The arguments are a class name and a base class name, which cannot be put in parentheses.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define ZEB40_EXCEPTION(Name, Base)                                                                \
    class Name : public Base {                                                                     \
    public:                                                                                        \
        using Base::Base;                                                                          \
    }
// NOLINTEND(bugprone-macro-parentheses)

ZEB40_EXCEPTION(EIdException, Exception);
ZEB40_EXCEPTION(EIdSilentException, EIdException);
ZEB40_EXCEPTION(EIdConnClosedGracefully, EIdSilentException);
ZEB40_EXCEPTION(EIdInvalidServiceName, EIdException);
ZEB40_EXCEPTION(EIdInvalidSocket, EIdException);

class EIdSocketError : public EIdException {
public:
    EIdSocketError(int32_t errorCode, std::string message)
        : EIdException(std::move(message)), FErrorCode(errorCode) {}
    int32_t ErrorCode() const noexcept { return FErrorCode; }

private:
    int32_t FErrorCode;
};

ZEB40_EXCEPTION(EIdStackError, EIdException);
ZEB40_EXCEPTION(EIdStackInitializationFailed, EIdStackError);
ZEB40_EXCEPTION(EIdStackSetSizeExceeded, EIdStackError);
ZEB40_EXCEPTION(EIdStackCanNotLoadWinsock, EIdException);
ZEB40_EXCEPTION(EIdSocketHandleError, EIdException);
ZEB40_EXCEPTION(EIdPackageSizeTooBig, EIdSocketHandleError);
ZEB40_EXCEPTION(EIdNotAllBytesSent, EIdSocketHandleError);
ZEB40_EXCEPTION(EIdUDPException, EIdException);
ZEB40_EXCEPTION(EIdUDPReceiveErrorZeroBytes, EIdUDPException);
ZEB40_EXCEPTION(EIdMoreThanOneTIdAntiFreeze, EIdException);
ZEB40_EXCEPTION(EIdTFTPException, EIdException);
ZEB40_EXCEPTION(EIdTFTPFileNotFound, EIdTFTPException);
ZEB40_EXCEPTION(EIdTFTPAccessViolation, EIdTFTPException);
ZEB40_EXCEPTION(EIdTFTPAllocationExceeded, EIdTFTPException);
ZEB40_EXCEPTION(EIdTFTPIllegalOperation, EIdTFTPException);
ZEB40_EXCEPTION(EIdTFTPUnknownTransferID, EIdTFTPException);
ZEB40_EXCEPTION(EIdTFTPFileAlreadyExists, EIdTFTPException);
ZEB40_EXCEPTION(EIdTFTPNoSuchUser, EIdTFTPException);
ZEB40_EXCEPTION(EIdTFTPOptionNegotiationFailed, EIdTFTPException);

#undef ZEB40_EXCEPTION

// Shared helpers of the network code.

// Takes the text before the first delimiter out of input (with the delimiter when remove is
// set); without a delimiter the whole input is the token.
std::string CutToken(std::string& input, const std::string& delimiter, bool remove);

// 1-based position of the first occurrence of needle in haystack, 0 when there is none; an empty
// needle is never found.
int FindSubstring(const std::string& needle, const std::string& haystack);

// True on the thread that started the process.
bool IsMainThread();

inline int32_t MinOf(int32_t a, int32_t b) {
    return b < a ? b : a;
}
