#include "net/Idexception.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

using namespace std::string_literals;

TEST(CutToken, TakesAnAddressApartOctetByOctet) {
    std::string input = "192.168.1.100";
    const char* expected[][2] = {
        {"192", "168.1.100"}, {"168", "1.100"}, {"1", "100"}, {"100", ""}, {"", ""}};
    for (const auto& step : expected) {
        EXPECT_EQ(CutToken(input, ".", true), step[0]);
        EXPECT_EQ(input, step[1]);
    }
}

TEST(CutToken, Cases) {
    struct Case {
        std::string input, delimiter;
        bool remove;
        std::string token, rest;
    };
    const Case cases[] = {
        {".1.2", ".", true, "", "1.2"},                   // delimiter first
        {"abc", ".", true, "abc", ""},                    // no delimiter, removed
        {"abc", ".", false, "abc", "abc"},                // no delimiter, kept
        {"a.b", ".", false, "a", "a.b"},                  // found, kept
        {"a::b::c", "::", true, "a", "b::c"},             // long delimiter removed whole
        {"a:b::c", "::", true, "a:b", "c"},               // a prefix of the delimiter is no match
        {"ab\0cd"s, "\0"s, true, "ab", "cd"},             // NUL delimiter, bytes after it kept
        {"x\0y\0z"s, "\0"s, true, "x", "y\0z"s},          //
        {"", ".", true, "", ""},                          // empty input
        {"abc", "", true, "abc", ""},                     // empty delimiter is never found
        {"h\xC3\xA9.llo", ".", true, "h\xC3\xA9", "llo"}, // multi-byte text before the dot
    };
    for (const Case& c : cases) {
        std::string input = c.input;
        EXPECT_EQ(CutToken(input, c.delimiter, c.remove), c.token) << c.input;
        EXPECT_EQ(input, c.rest) << c.input;
    }
}

TEST(FindSubstring, PositionsAreOneBased) {
    EXPECT_EQ(FindSubstring("a", "abc"), 1);
    EXPECT_EQ(FindSubstring("c", "abc"), 3);
    EXPECT_EQ(FindSubstring("bc", "abcbc"), 2);
    EXPECT_EQ(FindSubstring("abcd", "abc"), 0);
    EXPECT_EQ(FindSubstring("", "abc"), 0);
    EXPECT_EQ(FindSubstring("", ""), 0);
    EXPECT_EQ(FindSubstring("\0z"s, "ab\0z"s), 3); // compares past embedded NULs
}

TEST(MinOf, SignedComparison) {
    EXPECT_EQ(MinOf(5, 3), 3);
    EXPECT_EQ(MinOf(3, 5), 3);
    EXPECT_EQ(MinOf(-1, 0), -1);
    EXPECT_EQ(MinOf(7, 7), 7);
    EXPECT_EQ(MinOf(INT32_MIN, INT32_MAX), INT32_MIN);
}

TEST(IsMainThread, TrueHereFalseElsewhere) {
    EXPECT_TRUE(IsMainThread());
    bool other = true;
    std::thread([&other] { other = IsMainThread(); }).join();
    EXPECT_FALSE(other);
}

template <typename Raised, typename Caught>
bool Catches() {
    try {
        throw Raised("m");
    } catch (const Caught&) {
        return true;
    } catch (const Exception&) {
        return false;
    }
}

TEST(ExceptionTree, FamiliesCatchTheirMembersOnly) {
    EXPECT_TRUE((Catches<EIdTFTPNoSuchUser, EIdTFTPException>()));
    EXPECT_TRUE((Catches<EIdTFTPOptionNegotiationFailed, EIdTFTPException>()));
    EXPECT_TRUE((Catches<EIdStackSetSizeExceeded, EIdStackError>()));
    EXPECT_TRUE((Catches<EIdStackInitializationFailed, EIdStackError>()));
    EXPECT_TRUE((Catches<EIdConnClosedGracefully, EIdSilentException>()));
    EXPECT_TRUE((Catches<EIdPackageSizeTooBig, EIdSocketHandleError>()));
    EXPECT_TRUE((Catches<EIdNotAllBytesSent, EIdSocketHandleError>()));
    EXPECT_TRUE((Catches<EIdUDPReceiveErrorZeroBytes, EIdUDPException>()));
    EXPECT_TRUE((Catches<EIdStackCanNotLoadWinsock, EIdException>()));
    EXPECT_TRUE((Catches<EIdMoreThanOneTIdAntiFreeze, EIdException>()));

    EXPECT_FALSE((Catches<EIdStackCanNotLoadWinsock, EIdStackError>()));
    EXPECT_FALSE((Catches<EIdConnClosedGracefully, EIdSocketHandleError>()));
    EXPECT_FALSE((Catches<EIdInvalidSocket, EIdStackError>()));
    EXPECT_FALSE((Catches<EIdUDPReceiveErrorZeroBytes, EIdTFTPException>()));
    EXPECT_FALSE((Catches<EIdTFTPException, EIdTFTPFileNotFound>()));
    EXPECT_FALSE((Catches<EConvertError, EIdException>()));
}

TEST(ExceptionTree, SocketErrorCarriesCodeAndText) {
    try {
        throw EIdSocketError(10054, "text");
    } catch (const EIdException& e) {
        EXPECT_EQ(e.Message(), "text");
        EXPECT_EQ(dynamic_cast<const EIdSocketError&>(e).ErrorCode(), 10054);
    }
}

} // namespace
