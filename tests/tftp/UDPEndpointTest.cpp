#include "net/Idexception.h"
#include "tftp/IdUDPClient.h"
#include "tftp/ScriptedPeer.h"
#include "tftp/SpyStack.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;
using tftptest::LoopbackSocket;
using tftptest::StackSpy;

// The broadcast option writes seen by the stack: level 65535, option 32, four bytes.
std::vector<int32_t> BroadcastWrites(tftptest::SpyStack& spy) {
    std::vector<int32_t> values;
    for (const auto& call : spy.Options) {
        EXPECT_EQ(call.Level, 65535);
        EXPECT_EQ(call.Name, 32);
        EXPECT_EQ(call.Length, 4);
        values.push_back(call.Value);
    }
    return values;
}

// An endpoint that has sent one datagram to a loopback socket, so that the socket has its local
// port and the loopback socket can answer it.
struct Pair {
    TIdUDPClient Client{nullptr};
    LoopbackSocket Remote;
    uint16_t ClientPort = 0;

    void Introduce() {
        Client.SetHost("127.0.0.1");
        Client.SetPort(Remote.Port());
        Client.SendToHost("hello");
        ASSERT_TRUE(Remote.Receive(2000, &ClientPort).has_value());
    }
};

TEST(UDPEndpoint, ActiveAcquiresAndReleases) {
    TIdUDPClient client(nullptr);
    StackSpy spy;
    EXPECT_FALSE(client.Active());
    EXPECT_EQ(client.BufferSize(), 8192);
    EXPECT_EQ(client.ReceiveTimeout(), NoTimeLimit);
    EXPECT_EQ(client.Port(), 0);

    client.SetActive(true);
    EXPECT_TRUE(client.Active());
    EXPECT_EQ(spy->Creates, 1);
    EXPECT_EQ(BroadcastWrites(*spy), std::vector<int32_t>{0});
    client.SetActive(true); // already active: nothing
    EXPECT_EQ(spy->Creates, 1);

    client.SetActive(false);
    EXPECT_FALSE(client.Active());
    EXPECT_EQ(spy->Closes.size(), 1u);
    EXPECT_EQ(spy->Shutdowns, std::vector<int32_t>{1});
    client.SetActive(false);
    EXPECT_EQ(spy->Closes.size(), 1u);
}

TEST(UDPEndpoint, BroadcastOptionWrittenWhenItMatters) {
    TIdUDPClient client(nullptr);
    StackSpy spy;
    client.SetBroadcastEnabled(true); // inactive: recorded only
    EXPECT_TRUE(spy->Options.empty());
    EXPECT_EQ(spy->Creates, 0);
    client.SetActive(true);
    EXPECT_EQ(BroadcastWrites(*spy), std::vector<int32_t>{-1});
    client.SetBroadcastEnabled(true); // unchanged: nothing
    client.SetBroadcastEnabled(false);
    client.SetBroadcastEnabled(true);
    EXPECT_EQ(BroadcastWrites(*spy), (std::vector<int32_t>{-1, 0, -1}));
    // Each new socket gets the option right after it is acquired.
    client.SocketHandle()->Close(true);
    client.SocketHandle();
    EXPECT_EQ(BroadcastWrites(*spy), (std::vector<int32_t>{-1, 0, -1, -1}));
    EXPECT_EQ(spy->Creates, 2);
}

TEST(UDPEndpoint, ReceiveTimeOutGivesNothingAndClearsThePeer) {
    Pair pair;
    pair.Introduce();
    std::string ip = "10.9.8.7";
    int32_t port = 4242;
    EXPECT_EQ(pair.Client.ReceiveText(ip, port, 50), "");
    EXPECT_EQ(ip, "");
    EXPECT_EQ(port, 0);
    char buffer[16];
    ip = "x";
    port = 1;
    EXPECT_EQ(pair.Client.ReceiveBytes(buffer, sizeof buffer, ip, port, 0), 0);
    EXPECT_EQ(ip, "");
    EXPECT_EQ(port, 0);
    EXPECT_TRUE(pair.Client.Active());
}

TEST(UDPEndpoint, ReceivesOneDatagramWithItsSender) {
    Pair pair;
    pair.Introduce();
    pair.Client.SetBufferSize(516);
    pair.Remote.SendTo(pair.ClientPort, "\0\4\0\1"s);
    std::string ip;
    int32_t port = 0;
    EXPECT_EQ(pair.Client.ReceiveText(ip, port, 2000), "\0\4\0\1"s);
    EXPECT_EQ(ip, "127.0.0.1");
    EXPECT_EQ(port, pair.Remote.Port());

    // Each receive takes one datagram, whatever is queued behind it.
    pair.Remote.SendTo(pair.ClientPort, "first");
    pair.Remote.SendTo(pair.ClientPort, "second!");
    char buffer[64];
    EXPECT_EQ(pair.Client.ReceiveBytes(buffer, sizeof buffer, ip, port, 2000), 5);
    EXPECT_EQ(std::string(buffer, 5), "first");
    EXPECT_EQ(pair.Client.ReceiveText(ip, port, 2000), "second!");
}

TEST(UDPEndpoint, MinusOneWaitsReceiveTimeout) {
    Pair pair;
    pair.Introduce();
    StackSpy spy;
    std::string ip;
    int32_t port = 0;
    const struct {
        int32_t ReceiveTimeout;
        int32_t Given;
        int32_t Waited;
    } cases[] = {{120, -1, 120}, {120, 0, 0}, {120, 30, 30}, {0, -1, 0}};
    for (const auto& c : cases) {
        pair.Client.SetReceiveTimeout(c.ReceiveTimeout);
        spy->SelectTimeouts.clear();
        EXPECT_EQ(pair.Client.ReceiveText(ip, port, c.Given), "");
        EXPECT_EQ(spy->SelectTimeouts, std::vector<int32_t>{c.Waited}) << c.Given;
    }
    // -2 waits without limit: with a datagram queued it returns it.
    pair.Client.SetReceiveTimeout(NoTimeLimit);
    pair.Remote.SendTo(pair.ClientPort, "late");
    spy->SelectTimeouts.clear();
    EXPECT_EQ(pair.Client.ReceiveText(ip, port), "late");
    EXPECT_EQ(spy->SelectTimeouts, std::vector<int32_t>{NoTimeLimit});
}

TEST(UDPEndpoint, SendToHostResolvesTheHost) {
    const char* hosts[] = {"LOCALHOST", "localhost", "LocalHost", "127.0.0.1"};
    for (const char* host : hosts) {
        TIdUDPClient client(nullptr);
        LoopbackSocket remote;
        StackSpy spy;
        client.SetHost(host);
        client.SetPort(remote.Port());
        client.SendToHost("\0\2x\0"s);
        EXPECT_EQ(remote.Receive(2000), "\0\2x\0"s) << host;
        ASSERT_EQ(spy->Sends.size(), 1u);
        EXPECT_EQ(spy->Sends[0].IP, "127.0.0.1");
        EXPECT_EQ(spy->Sends[0].Port, remote.Port());
        EXPECT_TRUE(client.Active()) << "the first send opens the socket";
    }
}

TEST(UDPEndpoint, SendBytesSendsExactlyTheCount) {
    TIdUDPClient client(nullptr);
    LoopbackSocket remote;
    const std::string bytes = "\0\3\0\1abcdef"s;
    client.SendBytesTo("127.0.0.1", remote.Port(), bytes.data(), 6);
    EXPECT_EQ(remote.Receive(2000), bytes.substr(0, 6));
    client.SendTextTo("127.0.0.1", remote.Port(), "");
    EXPECT_EQ(remote.Receive(2000), "");
}

TEST(UDPEndpoint, ZeroByteDatagramRaisesAndKeepsTheSocket) {
    Pair pair;
    pair.Introduce();
    pair.Remote.SendTo(pair.ClientPort, "");
    std::string ip;
    int32_t port = 0;
    try {
        pair.Client.ReceiveText(ip, port, 2000);
        ADD_FAILURE() << "nothing raised";
    } catch (const EIdUDPReceiveErrorZeroBytes& e) {
        EXPECT_EQ(e.Message(), "UDP Receive Error = 0.");
    }
    EXPECT_TRUE(pair.Client.Active());
    // The path beneath reports the empty datagram and its sender instead.
    pair.Remote.SendTo(pair.ClientPort, "");
    char buffer[8];
    int32_t count = -5;
    EXPECT_TRUE(pair.Client.ReceiveDatagram(buffer, sizeof buffer, ip, port, 2000, count));
    EXPECT_EQ(count, 0);
    EXPECT_EQ(port, pair.Remote.Port());
}

TEST(UDPEndpoint, ActiveWhileLoadingOrDesigningIsOnlyRecorded) {
    const struct {
        const char* Name;
        bool Designing;
        bool ActiveAfter; // after loading ends
    } cases[] = {{"loading", false, true}, {"designing", true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TIdUDPClient client(nullptr);
        StackSpy spy;
        client.SetDesigning(c.Designing);
        client.BeginLoading();
        client.SetActive(true);
        EXPECT_TRUE(client.Active()) << "the getter reports the wish";
        EXPECT_EQ(spy->Creates, 0);
        client.EndLoading();
        EXPECT_EQ(client.Active(), c.ActiveAfter);
        EXPECT_EQ(spy->Creates, c.Designing ? 0 : 1);
    }
    // A stored false stays inactive.
    TIdUDPClient client(nullptr);
    client.BeginLoading();
    client.SetActive(false);
    client.EndLoading();
    EXPECT_FALSE(client.Active());
}

} // namespace
