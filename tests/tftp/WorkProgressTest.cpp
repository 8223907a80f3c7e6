#include "net/IdStack.h"
#include "net/IdStackWinsock.h"
#include "net/Idexception.h"
#include "tftp/IdComponent.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// One step of a work script: begin, work or end of a mode, with its number.
struct Step {
    char Kind; // 'b' begin, 'w' work, 'e' end
    TWorkMode Mode;
    int32_t Value;
};

std::string ModeName(TWorkMode mode) {
    return mode == WorkModeWrite ? "W" : "R";
}

// The events a component fired, as text: "begin W 1000", "work W 512", "end W".
struct EventLog {
    std::vector<std::string> Events;
    void Attach(TIdComponent& c) {
        c.OnWorkBegin = [this, &c](TObject* sender, TWorkMode mode, int32_t max) {
            EXPECT_EQ(sender, &c);
            Events.push_back("begin " + ModeName(mode) + " " + std::to_string(max));
        };
        c.OnWork = [this, &c](TObject* sender, TWorkMode mode, int32_t count) {
            EXPECT_EQ(sender, &c);
            Events.push_back("work " + ModeName(mode) + " " + std::to_string(count));
        };
        c.OnWorkEnd = [this, &c](TObject* sender, TWorkMode mode) {
            EXPECT_EQ(sender, &c);
            Events.push_back("end " + ModeName(mode));
        };
    }
};

void RunSteps(TIdComponent& c, const std::vector<Step>& steps) {
    for (const Step& s : steps) {
        if (s.Kind == 'b') {
            c.NotifyWorkBegin(s.Mode, s.Value);
        } else if (s.Kind == 'w') {
            c.NotifyWork(s.Mode, s.Value);
        } else {
            c.NotifyWorkEnd(s.Mode);
        }
    }
}

struct WorkCase {
    const char* Name;
    std::vector<Step> Steps;
    std::vector<std::string> Events;
    TWorkProgress Write; // the record afterwards
    TWorkProgress Read;
};

constexpr TWorkMode W = WorkModeWrite;
constexpr TWorkMode R = WorkModeRead;

TEST(WorkProgress, EventsFollowTheScopes) {
    const std::vector<WorkCase> cases = {
        {"one scope, running totals",
         {{'b', W, 1000}, {'w', W, 512}, {'w', W, 488}, {'e', W, 0}},
         {"begin W 1000", "work W 512", "work W 1000", "end W"},
         {1000, 0},
         {0, 0}},
        {"nested begins fire once, end at the outermost",
         {{'b', W, 1000}, {'b', W, 50}, {'w', W, 10}, {'e', W, 0}, {'e', W, 0}},
         {"begin W 1000", "work W 10", "end W"},
         {10, 0},
         {0, 0}},
        {"nested begin keeps the running count",
         {{'b', W, 9}, {'w', W, 4}, {'b', W, 9}, {'w', W, 3}},
         {"begin W 9", "work W 4", "work W 7"},
         {7, 2},
         {0, 0}},
        {"work outside a scope is ignored",
         {{'w', W, 7}, {'b', W, 5}, {'w', W, 1}},
         {"begin W 5", "work W 1"},
         {1, 1},
         {0, 0}},
        {"a new outermost begin starts again at zero",
         {{'b', W, 5}, {'w', W, 5}, {'e', W, 0}, {'w', W, 3}, {'b', W, 2}, {'w', W, 2}},
         {"begin W 5", "work W 5", "end W", "begin W 2", "work W 2"},
         {2, 1},
         {0, 0}},
        {"modes are independent",
         {{'b', W, 100}, {'w', R, 10}, {'e', R, 0}, {'w', W, 20}},
         {"begin W 100", "work W 20"},
         {20, 1},
         {0, -1}},
        {"both modes open at once",
         {{'b', R, 1}, {'b', W, 2}, {'w', R, 1}, {'w', W, 2}, {'e', W, 0}, {'e', R, 0}},
         {"begin R 1", "begin W 2", "work R 1", "work W 2", "end W", "end R"},
         {2, 0},
         {1, 0}},
        {"an end without a begin fires nothing and goes below zero",
         {{'e', W, 0}, {'w', W, 4}, {'b', W, 3}, {'w', W, 4}},
         {},
         {0, 0},
         {0, 0}},
        {"a count of zero still fires",
         {{'b', W, 0}, {'w', W, 0}, {'e', W, 0}},
         {"begin W 0", "work W 0", "end W"},
         {0, 0},
         {0, 0}},
    };
    for (const WorkCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TIdComponent component(nullptr);
        EventLog log;
        log.Attach(component);
        RunSteps(component, c.Steps);
        EXPECT_EQ(log.Events, c.Events);
        EXPECT_EQ(component.WorkProgress(W).Count, c.Write.Count);
        EXPECT_EQ(component.WorkProgress(W).Level, c.Write.Level);
        EXPECT_EQ(component.WorkProgress(R).Count, c.Read.Count);
        EXPECT_EQ(component.WorkProgress(R).Level, c.Read.Level);
    }
}

TEST(WorkProgress, UnsetHandlersOnlyCount) {
    TIdComponent component(nullptr);
    RunSteps(component, {{'b', W, 10}, {'w', W, 3}, {'w', W, 4}});
    EXPECT_EQ(component.WorkProgress(W).Count, 7);
    EXPECT_EQ(component.WorkProgress(W).Level, 1);
    component.NotifyWorkEnd(W);
    EXPECT_EQ(component.WorkProgress(W).Level, 0);
    // Only some handlers set: the others are skipped.
    int ends = 0;
    component.OnWorkEnd = [&ends](TObject*, TWorkMode) { ++ends; };
    RunSteps(component, {{'b', W, 1}, {'w', W, 1}, {'e', W, 0}});
    EXPECT_EQ(ends, 1);
}

TEST(WorkProgress, HandlerExceptionLeavesTheCountersAsTheHandlerSawThem) {
    struct Throwing {
        const char* Name;
        std::vector<Step> Before; // run with the handler that throws unset
        Step Throws;
        TWorkProgress After;
    };
    const std::vector<Throwing> cases = {
        {"begin", {}, {'b', W, 10}, {0, 1}},
        {"work", {{'b', W, 10}, {'w', W, 3}}, {'w', W, 4}, {7, 1}},
        {"end", {{'b', W, 10}, {'w', W, 3}}, {'e', W, 0}, {3, 1}},
    };
    for (const Throwing& c : cases) {
        SCOPED_TRACE(c.Name);
        TIdComponent component(nullptr);
        RunSteps(component, c.Before);
        TWorkProgress seen{-9, -9};
        auto fail = [&component, &seen] {
            seen = component.WorkProgress(W);
            throw std::runtime_error("handler");
        };
        component.OnWorkBegin = [fail](TObject*, TWorkMode, int32_t) { fail(); };
        component.OnWork = [fail](TObject*, TWorkMode, int32_t) { fail(); };
        component.OnWorkEnd = [fail](TObject*, TWorkMode) { fail(); };
        EXPECT_THROW(RunSteps(component, {c.Throws}), std::runtime_error);
        EXPECT_EQ(seen.Count, c.After.Count);
        EXPECT_EQ(seen.Level, c.After.Level);
        EXPECT_EQ(component.WorkProgress(W).Count, c.After.Count);
        EXPECT_EQ(component.WorkProgress(W).Level, c.After.Level);
    }
}

TEST(GlobalStackLife, FirstComponentCreatesLastDestroys) {
    ASSERT_EQ(LiveComponentCount, 0);
    ASSERT_EQ(GlobalStack, nullptr);
    auto first = std::make_unique<TIdComponent>(nullptr);
    TIdStack* stack = GlobalStack;
    ASSERT_NE(stack, nullptr);
    auto second = std::make_unique<TIdComponent>(nullptr);
    EXPECT_EQ(GlobalStack, stack);
    EXPECT_EQ(LiveComponentCount, 2);
    first.reset();
    EXPECT_EQ(GlobalStack, stack);
    EXPECT_EQ(LiveComponentCount, 1);
    second.reset();
    EXPECT_EQ(GlobalStack, nullptr);
    EXPECT_EQ(LiveComponentCount, 0);
    TIdComponent third(nullptr);
    EXPECT_NE(GlobalStack, nullptr);
    EXPECT_EQ(LiveComponentCount, 1);
}

TEST(GlobalStackLife, OwnerFreesItsComponents) {
    {
        TComponent window(nullptr);
        new TIdComponent(&window);
        new TIdComponent(&window);
        EXPECT_EQ(LiveComponentCount, 2);
        EXPECT_NE(GlobalStack, nullptr);
    }
    EXPECT_EQ(LiveComponentCount, 0);
    EXPECT_EQ(GlobalStack, nullptr);
}

// A socket library that cannot be loaded, or loads and refuses to start.
class TFailingLibrary : public TIdSocketLibraryService {
public:
    explicit TFailingLibrary(bool loads) : FLoads(loads) {}
    bool Load(const std::string&) override { return FLoads; }
    int32_t Startup(uint16_t, TIdStartupReply&) override { return 10091; }
    int32_t CancelBlockingCall() override { return 0; }
    int32_t Cleanup() override { return 0; }
    void Unload() override {}

private:
    bool FLoads;
};

TEST(GlobalStackLife, FailedCreationLeavesNothingBehind) {
    const struct {
        const char* Name;
        bool Loads;
        std::string Message;
    } cases[] = {{"library missing", false, "wsock32.dll could not be loaded."},
                 {"start-up refused", true, "Winsock Initialization Error."}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TFailingLibrary library(c.Loads);
        TComponent window(nullptr);
        try {
            const TSeamOverride<TIdSocketLibraryService> inUse(SocketLibraryService, library);
            new TIdComponent(&window);
            ADD_FAILURE() << "nothing raised";
        } catch (const EIdException& e) {
            EXPECT_EQ(e.Message(), c.Message);
        }
        EXPECT_EQ(LiveComponentCount, 0);
        EXPECT_EQ(GlobalStack, nullptr);
        EXPECT_EQ(window.ComponentCount(), 0) << "the failed component left its owner";
        // With a stack already there, a later failure of the library does not matter.
        TIdComponent first(nullptr);
        TIdStack* stack = GlobalStack;
        const TSeamOverride<TIdSocketLibraryService> inUse(SocketLibraryService, library);
        TIdComponent second(nullptr);
        EXPECT_EQ(GlobalStack, stack);
        EXPECT_EQ(LiveComponentCount, 2);
    }
    EXPECT_EQ(LiveComponentCount, 0);
    EXPECT_EQ(GlobalStack, nullptr);
}

} // namespace
