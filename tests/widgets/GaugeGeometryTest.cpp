// The arithmetic of the gauge's picture, apart from any painting and any toolkit.
#include "widgets/GaugeGeometry.h"

#include <gtest/gtest.h>

#include <climits>

using namespace GaugeGeometry;

namespace {

// The paint rectangle of the window's 175 x 17 gauge with its frame, and without it.
constexpr TGaugeRect Framed{1, 1, 174, 16};
constexpr TGaugeRect Unframed{0, 0, 175, 17};

struct PercentCase {
    int32_t Min, Max, Progress, Expected;
};

TEST(GaugeGeometry, PercentDoneRoundsDownAndSurvivesWideRanges) {
    const PercentCase cases[] = {
        {0, 100, 0, 0},
        {0, 100, 100, 100},
        {0, 3, 2, 66}, // 66.67 rounds down
        {0, 3, 1, 33},
        {5, 5, 5, 0}, // empty range
        {-100, 100, 0, 50},
        {0, 1000, 109, 10},
        {0, 1000, 110, 11},
        {-2147483647, 2147483647, 0, 50}, // the range does not fit 32 bits
        {INT_MIN, INT_MAX, INT_MAX, 100},
        {0, INT_MAX, INT_MAX - 1, 99}, // part * 100 does not fit 32 bits either
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PercentDone(c.Min, c.Max, c.Progress), c.Expected)
            << c.Min << ".." << c.Max << " at " << c.Progress;
    }
}

TEST(GaugeGeometry, PaintRectShrinksOnlyForTheSingleBorder) {
    EXPECT_EQ(PaintRect(175, 17, 1), Framed);
    EXPECT_EQ(PaintRect(175, 17, 0), Unframed);
    EXPECT_EQ(PaintRect(175, 17, 2), Unframed);
}

struct BarCase {
    TGaugeRect Rect;
    int Percent;
    std::optional<TGaugeRect> Expected;
};

TEST(GaugeGeometry, HorizontalBarUsesItsLengthAsTheRightEdge) {
    const BarCase cases[] = {
        {Framed, 0, std::nullopt},
        {Framed, 1, TGaugeRect{1, 1, 1, 16}}, // length 1 equals the left edge: nothing filled
        {Framed, 2, TGaugeRect{1, 1, 3, 16}},
        {Framed, 50, TGaugeRect{1, 1, 87, 16}},
        {Framed, 99, TGaugeRect{1, 1, 172, 16}},
        {Framed, 100, TGaugeRect{1, 1, 174, 16}},
        {Unframed, 100, TGaugeRect{0, 0, 176, 18}},
        {Unframed, 1, TGaugeRect{0, 0, 1, 18}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HorizontalBarFill(c.Rect, c.Percent), c.Expected) << c.Percent << "%";
    }
}

TEST(GaugeGeometry, VerticalBarStopsOneShortOfItsHeight) {
    const BarCase cases[] = {
        {Framed, 0, TGaugeRect{1, 16, 174, 16}},    {Framed, 50, TGaugeRect{1, 8, 174, 16}},
        {Framed, 93, TGaugeRect{1, 2, 174, 16}},    // floor(14.88) = 14
        {Framed, 100, TGaugeRect{1, 1, 174, 16}},   // the whole inside
        {Unframed, 100, TGaugeRect{0, 1, 176, 18}}, // the top row stays empty
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VerticalBarFill(c.Rect, c.Percent), c.Expected) << c.Percent << "%";
    }
}

TEST(GaugeGeometry, TextOriginCentresAndTruncatesTowardZero) {
    struct Case {
        TGaugeRect Rect;
        int Width, Height;
        TGaugePoint Expected;
    };
    const Case cases[] = {
        {Framed, 20, 13, {77, 1}},
        {Framed, 21, 14, {76, 1}},
        {Framed, 181, 17, {-3, 0}}, // wider and taller than the rectangle: -7 / 2 is -3
        {TGaugeRect{10, 10, 30, 20}, 4, 2, {8, 4}}, // measured from the bitmap's origin
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TextOrigin(c.Rect, c.Width, c.Height), c.Expected) << c.Width << "x" << c.Height;
    }
}

TEST(GaugeGeometry, PercentText) {
    EXPECT_EQ(PercentText(0), "0%");
    EXPECT_EQ(PercentText(57), "57%");
    EXPECT_EQ(PercentText(100), "100%");
}

TEST(GaugeGeometry, PieSliceStartsWhereThePercentageLeadsClockwiseFromTheTop) {
    struct Case {
        int Percent;
        TGaugePoint Start;
    };
    // Box (1, 1, 174, 16): MidX 87, MidY 8; the radial points are rounded down.
    const Case cases[] = {{25, {174, 7}}, {50, {87, 16}}, {75, {0, 8}}, {100, {86, 0}}};
    for (const auto& c : cases) {
        const auto slice = PieSlice(Framed, 1, c.Percent);
        ASSERT_TRUE(slice.has_value()) << c.Percent;
        EXPECT_EQ(slice->Box, (TGaugeRect{1, 1, 174, 16}));
        EXPECT_EQ(slice->Start, c.Start) << c.Percent << "%";
        EXPECT_EQ(slice->End, (TGaugePoint{87, 0}));
    }
    EXPECT_FALSE(PieSlice(Framed, 1, 0).has_value());
    // Without the frame the box is one pixel narrower and lower.
    EXPECT_EQ(PieBox(Unframed, 0), (TGaugeRect{0, 0, 175, 17}));
    EXPECT_EQ(PieBox(Framed, 1), (TGaugeRect{1, 1, 174, 16}));
}

TEST(GaugeGeometry, ArcAnglesRunCounterClockwise) {
    // A circle of diameter 100 centred on (50, 50).
    const TGaugeRect box{0, 0, 101, 101};
    struct Case {
        TGaugePoint Start, End;
        int ExpectedStart, ExpectedSpan;
    };
    const Case cases[] = {
        {{100, 50}, {50, 0}, 0, 90 * 16},          // right to top: a quarter
        {{50, 0}, {100, 50}, 90 * 16, 270 * 16},   // top round to the right: three quarters
        {{0, 50}, {100, 50}, 180 * 16, 180 * 16},  // the lower half
        {{50, 0}, {50, 0}, 90 * 16, 360 * 16},     // coinciding radials: the whole circle
        {{50, -40}, {200, 50}, 90 * 16, 270 * 16}, // points off the ellipse give the same radials
    };
    for (const auto& c : cases) {
        const TArcAngles a = ArcAngles(box, c.Start, c.End);
        EXPECT_EQ(a.Start, c.ExpectedStart);
        EXPECT_EQ(a.Span, c.ExpectedSpan);
    }
    // On a flat ellipse a radial is turned into the angle of the point where it meets it.
    const TArcAngles flat = ArcAngles(TGaugeRect{0, 0, 201, 101}, {200, 0}, {200, 0});
    EXPECT_EQ(flat.Start, 45 * 16);
}

TEST(GaugeGeometry, NeedlePointsLeftUpAndRight) {
    const TPieSlice dial = NeedleDial(Framed, 1);
    EXPECT_EQ(dial.Box, (TGaugeRect{1, 1, 174, 31}));
    EXPECT_EQ(dial.Start, (TGaugePoint{175, 15}));
    EXPECT_EQ(dial.End, (TGaugePoint{1, 15}));

    struct Case {
        int Percent;
        TGaugePoint To;
    };
    // MidX is half the control's width (87), the base row is bottom - 1 (15).
    const Case cases[] = {{1, {0, 14}}, {50, {86, 0}}, {100, {174, 14}}};
    for (const auto& c : cases) {
        const auto needle = NeedleLine(Framed, 175, c.Percent);
        ASSERT_TRUE(needle.has_value());
        EXPECT_EQ(needle->From, (TGaugePoint{87, 15}));
        EXPECT_EQ(needle->To, c.To) << c.Percent << "%";
    }
    EXPECT_FALSE(NeedleLine(Framed, 175, 0).has_value());
}

} // namespace
