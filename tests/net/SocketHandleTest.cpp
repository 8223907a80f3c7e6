// The rules of the socket handle around the stack calls, shown with the recording fake.
#include "FakeStack.h"
#include "net/IdAntiFreezeBase.h"
#include "net/IdSocketHandle.h"
#include "net/Idexception.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using TCalls = std::vector<std::string>;

class TRecordingAntiFreeze : public TIdAntiFreezeBase {
public:
    explicit TRecordingAntiFreeze(TCalls* log = nullptr, TComponent* owner = nullptr)
        : TIdAntiFreezeBase(owner), FLog(log) {}
    void ProcessPending() override {
        ++Count;
        if (FLog != nullptr) {
            FLog->push_back("process");
        }
        if (Then) {
            Then();
        }
    }
    int Count = 0;
    std::function<void()> Then;

private:
    TCalls* FLog;
};

class SocketHandle : public ::testing::Test {
protected:
    TFakeStack Stack;
    TGlobalStackScope Scope{Stack};
    TIdSocketHandle Handle;

    void Open() {
        Handle.AcquireSocket(Id_SOCK_DGRAM, 0);
        Stack.Calls.clear();
    }
};

TEST_F(SocketHandle, NewHandleHoldsNothing) {
    EXPECT_EQ(Handle.Socket(), InvalidSocketId);
    EXPECT_FALSE(Handle.SocketAllocated());
    EXPECT_EQ(Handle.IP(), "");
    EXPECT_EQ(Handle.RemoteIP(), "");
    EXPECT_EQ(Handle.Port(), 0);
    EXPECT_EQ(Handle.RemotePort(), 0);
}

TEST_F(SocketHandle, CloseShutsTheSendingSideDownThenClosesOnce) {
    Open();
    Handle.SetIP("127.0.0.1");
    Handle.SetPort(5000);
    Handle.Close(true); // the fake fails both calls; nothing may be raised
    EXPECT_EQ(Stack.Calls, (TCalls{"shutdown 7 1", "close 7"}));
    EXPECT_FALSE(Handle.SocketAllocated());
    EXPECT_EQ(Handle.Socket(), InvalidSocketId);
    EXPECT_EQ(Handle.IP(), "");
    EXPECT_EQ(Handle.Port(), 0);

    Handle.SetIP("127.0.0.2");
    Handle.Close(true);
    EXPECT_EQ(Stack.Calls.size(), 2u) << "a closed handle makes no call";
    EXPECT_EQ(Handle.IP(), "127.0.0.2") << "and changes nothing";
}

TEST_F(SocketHandle, AcquireClosesTheOldSocketFirst) {
    Open();
    Handle.SetIP("127.0.0.1");
    Handle.SetPort(5000);
    Stack.NextSocket = 9;
    Handle.AcquireSocket(Id_SOCK_DGRAM, 0);
    EXPECT_EQ(Stack.Calls, (TCalls{"shutdown 7 1", "close 7", "create 2 2 0"}));
    EXPECT_EQ(Handle.Socket(), 9u);
    EXPECT_TRUE(Handle.SocketAllocated());
    EXPECT_EQ(Handle.IP(), "");
    EXPECT_EQ(Handle.Port(), 0);
}

TEST_F(SocketHandle, RefusedSocketLeavesTheHandleClosed) {
    Open();
    Stack.NextSocket = InvalidSocketId;
    EXPECT_THROW(Handle.AcquireSocket(Id_SOCK_DGRAM, 0), EIdInvalidSocket);
    EXPECT_FALSE(Handle.SocketAllocated());
    EXPECT_EQ(Handle.Socket(), InvalidSocketId);
}

TEST_F(SocketHandle, DestructionClosesTheSocket) {
    {
        TIdSocketHandle handle;
        handle.AcquireSocket(Id_SOCK_DGRAM, 0);
    }
    EXPECT_EQ(Stack.Calls, (TCalls{"create 2 2 0", "shutdown 7 1", "close 7"}));
}

TEST_F(SocketHandle, SendResults) {
    Open();
    struct Case {
        int32_t size, sent, error;
        const char* raised; // nullptr: succeeds
    };
    const Case cases[] = {
        {516, 516, 0, nullptr},
        {0, 0, 0, nullptr},
        {516, 100, 0, "Not all bytes sent."},
        {516, 0, 0, "Not all bytes sent."},
        {0, 5, 0, "Not all bytes sent."},
        {70000, -1, 10040, "Package Size Too Big."},
        {516, -1, 10065, "Socket Error # 10065\r\nNo route to host."},
        {516, -1, 0, "Socket Error # 0\r\n"},
    };
    for (const Case& c : cases) {
        Stack.SendResult = c.sent;
        Stack.LastError = c.error;
        std::vector<char> data(static_cast<size_t>(c.size));
        try {
            Handle.SendDatagram("127.0.0.1", 69, data.data(), c.size);
            EXPECT_EQ(c.raised, nullptr) << c.size << " " << c.sent;
        } catch (const EIdNotAllBytesSent& e) {
            EXPECT_EQ(e.Message(), c.raised);
        } catch (const EIdPackageSizeTooBig& e) {
            EXPECT_EQ(e.Message(), c.raised);
        } catch (const EIdSocketError& e) {
            EXPECT_EQ(e.Message(), c.raised);
            EXPECT_EQ(e.ErrorCode(), c.error);
        }
    }
    EXPECT_EQ(Stack.Calls.front(), "sendto 7 516 127.0.0.1:69");
    EXPECT_TRUE(Handle.SocketAllocated()) << "a failed send keeps the socket";
}

TEST_F(SocketHandle, ReceiveReturnsTheResultAndLeavesTheRemoteBinding) {
    Open();
    char buffer[16];
    std::string ip;
    int32_t port = 0;
    EXPECT_EQ(Handle.ReceiveDatagram(buffer, sizeof buffer, 0, ip, port), 12);
    EXPECT_EQ(ip, "127.0.0.9");
    EXPECT_EQ(port, 4242);
    EXPECT_EQ(Handle.RemoteIP(), "");
    EXPECT_EQ(Handle.RemotePort(), 0);
}

TEST_F(SocketHandle, AssignCopiesAddressesFromTheSameClassOnly) {
    Open();
    TIdSocketHandle other;
    other.SetIP("127.0.0.5");
    other.SetPort(77);
    Handle.Assign(other);
    EXPECT_EQ(Handle.IP(), "127.0.0.5");
    EXPECT_EQ(Handle.Port(), 77);
    EXPECT_EQ(Handle.Socket(), 7u) << "the socket is not copied";
    TObject stranger;
    EXPECT_THROW(Handle.Assign(stranger), EConvertError);
}

// The selects a wait makes, each followed by the anti-freeze's turn, in one log.
class SlicedWait : public SocketHandle {
protected:
    TRecordingAntiFreeze AntiFreeze{&Stack.Calls};

    void SetUp() override {
        Open();
        AntiFreeze.SetOnlyWhenIdle(false); // its turn after every piece, data or not
    }
    TCalls Run(int32_t timeout, bool expected) {
        EXPECT_EQ(Handle.WaitReadable(timeout), expected) << timeout;
        TCalls calls;
        calls.swap(Stack.Calls);
        return calls;
    }
    static TCalls Pieces(std::initializer_list<int32_t> lengths) {
        TCalls calls;
        for (int32_t length : lengths) {
            calls.push_back("select " + std::to_string(length));
            calls.push_back("process");
        }
        return calls;
    }
};

TEST_F(SlicedWait, PiecesOfIdleTimeOut) {
    struct Case {
        int32_t timeout;
        TCalls calls;
    };
    const Case cases[] = {
        {600, Pieces({100, 250, 250})},
        {1000, Pieces({250, 250, 250, 250})},
        {500, Pieces({250, 250})},
        {251, Pieces({1, 250})},
        {250, Pieces({250})},
        {0, Pieces({0})},
        {1, Pieces({1})},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Run(c.timeout, false), c.calls) << c.timeout;
    }
}

TEST_F(SlicedWait, DataEndsTheWait) {
    Stack.SelectResults = {1};
    EXPECT_EQ(Run(600, true), Pieces({100}));
    Stack.SelectResults = {0, 1};
    EXPECT_EQ(Run(600, true), Pieces({100, 250}));
    Stack.SelectResults = {-1, 0, 0}; // a failed select counts as no data
    EXPECT_EQ(Run(600, false), Pieces({100, 250, 250}));
}

TEST_F(SlicedWait, NoLimitRepeatsIdleTimeOutUntilData) {
    Stack.SelectResults = {0, -1, 0, 1};
    EXPECT_EQ(Run(NoTimeLimit, true), Pieces({250, 250, 250, 250}));
}

TEST_F(SlicedWait, NonPositiveIdleTimeOutWaitsInOnePiece) {
    for (int32_t idle : {0, -5}) {
        AntiFreeze.SetIdleTimeOut(idle);
        EXPECT_EQ(Run(600, false), Pieces({600})) << idle;
        Stack.SelectResults = {1};
        EXPECT_EQ(Run(NoTimeLimit, true), Pieces({-2})) << idle;
    }
}

TEST_F(SlicedWait, InactiveAntiFreezeDoesNotSlice) {
    AntiFreeze.SetActive(false);
    EXPECT_EQ(Handle.WaitReadable(600), false);
    EXPECT_EQ(Stack.Calls, TCalls{"select 600"});
    EXPECT_EQ(AntiFreeze.Count, 0);
}

TEST_F(SlicedWait, OnlyWhenIdleSkipsTheTurnAfterData) {
    AntiFreeze.SetOnlyWhenIdle(true);
    Stack.SelectResults = {0, 1};
    EXPECT_TRUE(Handle.WaitReadable(600));
    EXPECT_EQ(AntiFreeze.Count, 1);
}

TEST_F(SlicedWait, SocketClosedDuringATurnEndsTheWait) {
    AntiFreeze.Then = [this] { Handle.Close(true); };
    EXPECT_THROW(Handle.WaitReadable(600), EIdConnClosedGracefully);
    EXPECT_EQ(Stack.Calls, (TCalls{"select 100", "process", "shutdown 7 1", "close 7"}));
}

TEST_F(SocketHandle, WaitWithoutAntiFreezeIsOneSelect) {
    Open();
    for (int32_t timeout : {600, 0, NoTimeLimit, 4000}) {
        Stack.Calls.clear();
        EXPECT_FALSE(Handle.WaitReadable(timeout));
        EXPECT_EQ(Stack.Calls, TCalls{"select " + std::to_string(timeout)});
    }
    Stack.SelectResults = {2}; // only exactly one ready handle counts as readable
    EXPECT_FALSE(Handle.WaitReadable(10));
}

TEST_F(SocketHandle, WaitOnAClosedHandleRaisesBeforeAnySelect) {
    for (int32_t timeout : {0, 600, NoTimeLimit}) {
        try {
            Handle.WaitReadable(timeout);
            ADD_FAILURE() << timeout;
        } catch (const EIdConnClosedGracefully& e) {
            EXPECT_EQ(e.Message(), "Connection Closed Gracefully.");
        }
    }
    EXPECT_TRUE(Stack.Calls.empty());
}

TEST(ProcessPendingIfDue, Rules) {
    ASSERT_EQ(GlobalAntiFreeze, nullptr);
    TIdAntiFreezeBase::ProcessPendingIfDue(true, true); // nobody registered: nothing happens

    TRecordingAntiFreeze antiFreeze;
    ASSERT_EQ(GlobalAntiFreeze, &antiFreeze);
    EXPECT_TRUE(antiFreeze.Active());
    EXPECT_TRUE(antiFreeze.ApplicationHasPriority());
    EXPECT_EQ(antiFreeze.IdleTimeOut(), 250);
    EXPECT_TRUE(antiFreeze.OnlyWhenIdle());
    struct Case {
        bool active, onlyWhenIdle, idle, override, called;
    };
    const Case cases[] = {
        {true, true, false, false, false}, {true, true, true, false, true},
        {true, true, false, true, true},   {true, false, false, false, true},
        {false, true, true, false, false}, {false, false, true, true, false},
    };
    for (const Case& c : cases) {
        antiFreeze.SetActive(c.active);
        antiFreeze.SetOnlyWhenIdle(c.onlyWhenIdle);
        const int before = antiFreeze.Count;
        TIdAntiFreezeBase::ProcessPendingIfDue(c.idle, c.override);
        EXPECT_EQ(antiFreeze.Count - before, c.called ? 1 : 0)
            << c.active << c.onlyWhenIdle << c.idle << c.override;
    }
    antiFreeze.SetActive(true);
    std::thread([] { TIdAntiFreezeBase::ProcessPendingIfDue(true, true); }).join();
    EXPECT_EQ(antiFreeze.Count, 3) << "another thread is refused";
}

TEST(AntiFreezeRegistration, LastOneWinsAndDestructionUnregisters) {
    auto first = std::make_unique<TRecordingAntiFreeze>();
    auto second = std::make_unique<TRecordingAntiFreeze>();
    EXPECT_EQ(GlobalAntiFreeze, second.get());
    first.reset();
    EXPECT_EQ(GlobalAntiFreeze, nullptr) << "whichever object was registered";
    second.reset();
    EXPECT_EQ(GlobalAntiFreeze, nullptr);
}

TEST(AntiFreezeRegistration, DesignStateRefusesASecond) {
    TComponent designer(nullptr);
    designer.SetDesigning(true);
    auto designed = std::make_unique<TRecordingAntiFreeze>(nullptr, &designer);
    EXPECT_EQ(GlobalAntiFreeze, nullptr) << "in design state nothing is registered";

    TRecordingAntiFreeze running;
    try {
        TRecordingAntiFreeze second(nullptr, &designer);
        ADD_FAILURE();
    } catch (const EIdMoreThanOneTIdAntiFreeze& e) {
        EXPECT_EQ(e.Message(), "Only one TIdAntiFreeze can exist per application.");
    }
    EXPECT_EQ(designer.ComponentCount(), 1) << "the refused one left its owner";
    EXPECT_EQ(GlobalAntiFreeze, &running);
    designed.reset();
}

} // namespace
