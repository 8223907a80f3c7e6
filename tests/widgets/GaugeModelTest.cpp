// The gauge's setter rules without any painter: what is stored, what is refused, and when the
// gauge must be redrawn, in one sequence of calls on one gauge.
#include "widgets/GaugeModel.h"
#include "base/Exception.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>

namespace {

TEST(GaugeModel, SettersStoreClampRefuseAndSayWhenToRedraw) {
    TGaugeModel gauge;
    struct Step {
        const char* What;
        std::function<bool()> Call;
        bool Redraw;
        int32_t Progress, Percent;
        const char* Refused = nullptr; // the message when the call is refused
    };
    const Step steps[] = {
        {"progress 150", [&] { return gauge.SetProgress(150); }, true, 100, 100},
        {"progress -3", [&] { return gauge.SetProgress(-3); }, true, 0, 0},
        {"progress 10", [&] { return gauge.SetProgress(10); }, true, 10, 10},
        {"progress 10 again", [&] { return gauge.SetProgress(10); }, false, 10, 10},
        {"max 1000", [&] { return gauge.SetMaxValue(1000); }, true, 10, 1},
        {"progress 105: 1 % to 10 %", [&] { return gauge.SetProgress(105); }, true, 105, 10},
        {"progress 109: still 10 %", [&] { return gauge.SetProgress(109); }, false, 109, 10},
        {"add 1: redrawn in any case", [&] { return gauge.AddProgress(1); }, true, 110, 11},
        {"add INT_MAX: no wrap", [&] { return gauge.AddProgress(INT_MAX); }, true, 1000, 100},
        {"min 1001", [&] { return gauge.SetMinValue(1001); }, false, 1000, 100,
         "Value must be between -2147483647 and 999"},
        {"max 40: progress follows", [&] { return gauge.SetMaxValue(40); }, true, 40, 100},
        {"min 40: empty range", [&] { return gauge.SetMinValue(40); }, true, 40, 0},
        {"max 39", [&] { return gauge.SetMaxValue(39); }, false, 40, 0,
         "Value must be between 41 and 2147483647"},
        {"max 40 unchanged", [&] { return gauge.SetMaxValue(40); }, false, 40, 0},
        {"fore navy",
         [&] {
             return gauge.SetForeColor({0, 0, 128});
         },
         true, 40, 0},
        {"fore navy again",
         [&] {
             return gauge.SetForeColor({0, 0, 128});
         },
         false, 40, 0},
        {"kind pie", [&] { return gauge.SetKind(gkPie); }, true, 40, 0},
        {"border single", [&] { return gauge.SetBorderStyle(bsSingle); }, false, 40, 0},
    };
    for (const Step& step : steps) {
        bool redraw = false;
        try {
            redraw = step.Call();
            EXPECT_EQ(step.Refused, nullptr) << step.What << ": accepted";
        } catch (const Exception& e) {
            EXPECT_STREQ(e.Message().c_str(), step.Refused) << step.What;
        }
        EXPECT_EQ(redraw, step.Redraw) << step.What;
        EXPECT_EQ(gauge.Progress(), step.Progress) << step.What;
        EXPECT_EQ(gauge.PercentDone(), step.Percent) << step.What;
    }
}

} // namespace
