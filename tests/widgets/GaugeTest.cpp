// The gauge's pictures, pixel by pixel, and its setters' rules.
#include "GaugePictures.h"
#include "base/Exception.h"
#include "widgets/Cgauges.h"

#include <QApplication>
#include <QFontMetrics>

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <memory>
#include <set>

namespace {

using GaugePictures::Black;
using GaugePictures::LightYellow;
using GaugePictures::Navy;
using GaugePictures::White;
const QColor NavyColor{0, 0, 128};

QRgb Px(const QImage& image, int x, int y) {
    return image.pixel(x, y) & 0xFFFFFF;
}

GaugePictures::TPixels PixelsOf(const QImage& image) {
    return [image](int x, int y) { return Px(image, x, y); };
}

std::set<QRgb> ColoursIn(const QImage& image, int fromX, int toX) {
    return GaugePictures::ColoursIn(PixelsOf(image), fromX, toX);
}

// A font drawn without antialiasing, so that text pixels are exactly white on the overlay.
QFont BitmapLikeFont() {
    QFont font("DejaVu Sans", 8);
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

class GaugePicture : public testing::Test {
protected:
    void SetUp() override {
        gauge.resize(175, 17);
        gauge.SetForeColor(NavyColor);
        gauge.setFont(BitmapLikeFont());
    }

    static void ExpectFrame(const QImage& image) { GaugePictures::ExpectFrame(PixelsOf(image)); }

    TCGauge gauge;
};

TEST_F(GaugePicture, HorizontalBarFillsColumnsOneToLengthMinusOne) {
    gauge.SetShowText(false);
    for (const auto& c : GaugePictures::BarCases) {
        gauge.SetProgress(c.Percent);
        const QImage image = gauge.RenderImage();
        ASSERT_EQ(image.size(), QSize(175, 17));
        ASSERT_EQ(image.format(), QImage::Format_RGB32);
        GaugePictures::ExpectBar(PixelsOf(image), c);
    }
}

TEST_F(GaugePicture, VerticalBarLeavesTheTopRowOnlyWithoutAFrame) {
    struct Case {
        uint8_t Border;
        int Percent;
        int FirstNavyRow; // of the whole picture
        int FirstColumn, LastColumn, LastRow;
    };
    const Case cases[] = {
        {1, 100, 1, 1, 173, 15}, // the whole inside
        {1, 50, 8, 1, 173, 15},
        {0, 100, 1, 0, 174, 16}, // row 0 stays white
        {0, 0, 18, 0, 174, 16},  // nothing
    };
    gauge.SetShowText(false);
    gauge.SeTCGaugeKind(gkVerticalBar);
    for (const auto& c : cases) {
        gauge.SetBorderStyle(c.Border);
        gauge.SetProgress(c.Percent);
        const QImage image = gauge.RenderImage();
        if (c.Border == 1) {
            ExpectFrame(image);
        }
        for (int y = c.FirstColumn == 0 ? 0 : 1; y <= c.LastRow; ++y) {
            for (int x = c.FirstColumn; x <= c.LastColumn; ++x) {
                ASSERT_EQ(Px(image, x, y), y >= c.FirstNavyRow ? Navy : White)
                    << int(c.Border) << " " << c.Percent << "% at " << x << "," << y;
            }
        }
    }
}

TEST_F(GaugePicture, NewGaugeShowsZeroPercentCentredInBlack) {
    const QImage image = gauge.RenderImage();
    ExpectFrame(image);
    EXPECT_EQ(ColoursIn(image, 1, 173), (std::set<QRgb>{White, Black}));

    // Every text pixel lies in the text's cell placed by the centring rule.
    const QFontMetrics metrics(BitmapLikeFont());
    const TGaugePoint origin = GaugeGeometry::TextOrigin(
        {1, 1, 174, 16}, metrics.horizontalAdvance("0%"), metrics.height());
    int left = 175, right = -1;
    for (int y = 1; y < 16; ++y) {
        for (int x = 1; x < 174; ++x) {
            if (Px(image, x, y) == Black) {
                EXPECT_GE(x, origin.X);
                EXPECT_LT(x, origin.X + metrics.horizontalAdvance("0%"));
                EXPECT_GE(y, origin.Y);
                EXPECT_LT(y, origin.Y + metrics.height());
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
    }
    // And the ink sits in the middle of the 173 inner columns, give or take the side bearings.
    EXPECT_NEAR((left + right) / 2.0, 87, 3);
}

TEST_F(GaugePicture, TextInvertsTheColoursBeneathIt) {
    for (const auto& c : GaugePictures::TextCases) {
        gauge.SetProgress(c.Percent);
        GaugePictures::ExpectText(PixelsOf(gauge.RenderImage()), c);
    }
}

TEST_F(GaugePicture, TextIsClippedToThePaintRectangle) {
    QFont big = BitmapLikeFont();
    big.setPixelSize(40);
    gauge.setFont(big);
    gauge.SetProgress(100);
    const QImage image = gauge.RenderImage();
    ExpectFrame(image);
    EXPECT_EQ(ColoursIn(image, 1, 173), (std::set<QRgb>{Navy, LightYellow}));
}

TEST_F(GaugePicture, ShowTextFalseShowsTheBarAlone) {
    gauge.SetShowText(false);
    gauge.SetProgress(0);
    EXPECT_EQ(ColoursIn(gauge.RenderImage(), 1, 173), std::set<QRgb>{White});
    gauge.SetProgress(100);
    EXPECT_EQ(ColoursIn(gauge.RenderImage(), 1, 173), std::set<QRgb>{Navy});
}

TEST_F(GaugePicture, TextKindAndUnknownKind) {
    gauge.SetShowText(false);
    gauge.SetProgress(60);
    gauge.SeTCGaugeKind(gkText);
    gauge.SetBackColor(QColor(0, 128, 0));
    EXPECT_EQ(ColoursIn(gauge.RenderImage(), 1, 173), std::set<QRgb>{0x008000});
    // A kind the gauge does not know draws nothing over the black image.
    gauge.SeTCGaugeKind(static_cast<TCGaugeKind>(7));
    EXPECT_EQ(ColoursIn(gauge.RenderImage(), 1, 173), std::set<QRgb>{Black});
}

TEST_F(GaugePicture, NoFrameForBorderStylesOtherThanOne) {
    gauge.SetShowText(false);
    for (uint8_t style : {uint8_t{0}, uint8_t{2}}) {
        gauge.SetBorderStyle(style);
        const QImage image = gauge.RenderImage();
        for (QPoint p : {QPoint(0, 0), QPoint(174, 16), QPoint(0, 8), QPoint(87, 0)}) {
            EXPECT_EQ(Px(image, p.x(), p.y()), White) << int(style);
        }
    }
}

class DialPicture : public testing::Test {
protected:
    void SetUp() override {
        gauge.resize(101, 101);
        gauge.SetShowText(false);
        gauge.SetColor(QColor(0, 128, 0));
    }
    TCGauge gauge;
};

TEST_F(DialPicture, PieGrowsClockwiseFromTheTop) {
    constexpr QRgb Green = 0x008000;
    gauge.SeTCGaugeKind(gkPie);
    struct Case {
        int Percent;
        QRgb UpperRight, LowerRight, LowerLeft, UpperLeft;
    };
    const Case cases[] = {
        {0, White, White, White, White},   {25, Black, White, White, White},
        {50, Black, Black, White, White},  {75, Black, Black, Black, White},
        {100, Black, Black, Black, Black},
    };
    for (const auto& c : cases) {
        gauge.SetProgress(c.Percent);
        const QImage image = gauge.RenderImage();
        EXPECT_EQ(Px(image, 70, 30), c.UpperRight) << c.Percent;
        EXPECT_EQ(Px(image, 70, 70), c.LowerRight) << c.Percent;
        EXPECT_EQ(Px(image, 30, 70), c.LowerLeft) << c.Percent;
        EXPECT_EQ(Px(image, 30, 30), c.UpperLeft) << c.Percent;
        EXPECT_EQ(Px(image, 4, 4), Green) << "outside the ellipse the control's colour";
        EXPECT_EQ(Px(image, 0, 0), Black) << "the frame";
    }
}

TEST_F(DialPicture, NeedleStandsOnAHalfDial) {
    constexpr QRgb Green = 0x008000;
    gauge.SeTCGaugeKind(gkNeedle);
    gauge.SetProgress(0);
    QImage image = gauge.RenderImage();
    EXPECT_EQ(Px(image, 50, 60), White) << "the dial's face";
    EXPECT_EQ(Px(image, 3, 5), Green) << "outside the dial";
    EXPECT_EQ(Px(image, 50, 1), Black) << "the dial's outline at its top";

    gauge.SetProgress(50); // up from (50, 99) to (49, 0): the end point is rounded down
    image = gauge.RenderImage();
    for (int y = 2; y < 99; y += 8) {
        EXPECT_TRUE(Px(image, 49, y) == Black || Px(image, 50, y) == Black) << y;
        EXPECT_EQ(Px(image, 52, y), White) << y;
    }
    gauge.SetProgress(100); // flat to the right along the base
    image = gauge.RenderImage();
    EXPECT_EQ(Px(image, 50, 60), White);
    EXPECT_EQ(Px(image, 80, 98), Black);
}

// The setters, on a gauge shown off screen so that its paints can be counted.
class GaugeSetters : public testing::Test {
protected:
    void SetUp() override {
        gauge.resize(175, 17);
        gauge.show();
        QApplication::processEvents();
    }

    // How many paints the action causes within its own call.
    int PaintsDuring(const std::function<void()>& action) {
        const int before = gauge.PaintCount();
        action();
        return gauge.PaintCount() - before;
    }

    TCGauge gauge;
};

TEST(GaugeDefaults, NewGauge) {
    TCGauge gauge;
    EXPECT_EQ(gauge.Kind(), gkHorizontalBar);
    EXPECT_TRUE(gauge.ShowText());
    EXPECT_EQ(gauge.BorderStyle(), 1);
    EXPECT_EQ(gauge.ForeColor(), QColor(0, 0, 0));
    EXPECT_EQ(gauge.BackColor(), QColor(255, 255, 255));
    EXPECT_EQ(gauge.MinValue(), 0);
    EXPECT_EQ(gauge.MaxValue(), 100);
    EXPECT_EQ(gauge.Progress(), 0);
    EXPECT_EQ(gauge.GetPercentDone(), 0);
    EXPECT_EQ(gauge.size(), QSize(100, 100));
    EXPECT_TRUE(gauge.testAttribute(Qt::WA_OpaquePaintEvent));
    EXPECT_FALSE(gauge.autoFillBackground());
}

TEST(GaugeDefaults, MatchSizeTakesTheSizeAndTheWindowFrameColour) {
    TBltBitmap overlay;
    overlay.MatchSize(QImage(7, 3, QImage::Format_RGB32));
    EXPECT_EQ(overlay.size(), QSize(7, 3));
    EXPECT_EQ(overlay.pixel(6, 2), WindowFrameColor.rgb());
    overlay.MatchSize(QImage());
    EXPECT_TRUE(overlay.isNull());
}

TEST_F(GaugeSetters, ProgressIsClampedAndRedrawnOnlyWhenThePercentageChanges) {
    struct Case {
        int32_t Max, Value, Stored, Paints;
    };
    const Case cases[] = {
        {100, 150, 100, 1},                                                // from 0
        {100, -3, 0, 1},          {100, 10, 10, 1},      {100, 10, 10, 0}, // unchanged
        {1000, 100, 100, 1},                                               // 1 % to 10 %
        {1000, 105, 105, 0},                                               // stored, still 10 %
        {1000, 109, 109, 0},      {1000, 110, 110, 1},   {1000, 1000, 1000, 1},
        {1000, INT_MAX, 1000, 0}, {1000, INT_MIN, 0, 1},
    };
    for (const auto& c : cases) {
        if (gauge.MaxValue() != c.Max) {
            gauge.SetMaxValue(c.Max);
        }
        EXPECT_EQ(PaintsDuring([&] { gauge.SetProgress(c.Value); }), c.Paints)
            << c.Max << " " << c.Value;
        EXPECT_EQ(gauge.Progress(), c.Stored) << c.Max << " " << c.Value;
    }
}

TEST_F(GaugeSetters, AddProgressAlwaysRedrawsAndNeverWraps) {
    struct Case {
        int32_t Delta, Stored;
    };
    const Case cases[] = {{0, 50}, {1, 51}, {-51, 0}, {INT_MAX, 100}, {INT_MIN, 0}};
    for (const auto& c : cases) {
        gauge.SetProgress(50);
        EXPECT_EQ(PaintsDuring([&] { gauge.AddProgress(c.Delta); }) >= 1, true) << c.Delta;
        EXPECT_EQ(gauge.Progress(), c.Stored) << c.Delta;
    }
    // With the percentage unchanged exactly one paint, from AddProgress itself.
    gauge.SetProgress(50);
    EXPECT_EQ(PaintsDuring([&] { gauge.AddProgress(0); }), 1);
}

TEST_F(GaugeSetters, PropertySettersRedrawOnlyOnChange) {
    const std::pair<const char*, std::function<void()>> same[] = {
        {"kind", [&] { gauge.SeTCGaugeKind(gkHorizontalBar); }},
        {"text", [&] { gauge.SetShowText(true); }},
        {"border", [&] { gauge.SetBorderStyle(1); }},
        {"fore", [&] { gauge.SetForeColor(QColor(0, 0, 0)); }},
        {"back", [&] { gauge.SetBackColor(QColor(255, 255, 255)); }},
        {"min", [&] { gauge.SetMinValue(0); }},
        {"max", [&] { gauge.SetMaxValue(100); }},
    };
    for (const auto& [name, action] : same) {
        EXPECT_EQ(PaintsDuring(action), 0) << name;
    }
    const std::pair<const char*, std::function<void()>> changed[] = {
        {"kind", [&] { gauge.SeTCGaugeKind(gkPie); }},
        {"text", [&] { gauge.SetShowText(false); }},
        {"border", [&] { gauge.SetBorderStyle(0); }},
        {"fore", [&] { gauge.SetForeColor(NavyColor); }},
        {"back", [&] { gauge.SetBackColor(QColor(1, 2, 3)); }},
        {"min", [&] { gauge.SetMinValue(-5); }},
        {"max", [&] { gauge.SetMaxValue(50); }},
    };
    for (const auto& [name, action] : changed) {
        EXPECT_EQ(PaintsDuring(action), 1) << name;
    }
    EXPECT_EQ(gauge.Kind(), gkPie);
    EXPECT_FALSE(gauge.ShowText());
    EXPECT_EQ(gauge.BorderStyle(), 0);
    EXPECT_EQ(gauge.ForeColor(), NavyColor);
    EXPECT_EQ(gauge.BackColor(), QColor(1, 2, 3));
}

TEST_F(GaugeSetters, BoundsAreRefusedWithTheirMessageAndNothingChanges) {
    struct Case {
        int32_t Min, Max; // set first (min first when lowering, max first otherwise)
        bool SetsMin;     // then the setter under test
        int32_t Value;
        const char* Message; // nullptr: accepted
        int32_t Percent;
    };
    const Case cases[] = {
        {0, 100, true, 101, "Value must be between -2147483647 and 99", 60},
        {0, 100, true, 100, nullptr, 0},
        {0, 100, false, 0, nullptr, 0},
        {0, 0, false, -1, "Value must be between 1 and 2147483647", 0},
        {INT_MIN, INT_MIN, true, 0, "Value must be between -2147483647 and -2147483649", 0},
        {INT_MAX, INT_MAX, false, 0, "Value must be between 2147483648 and 2147483647", 0},
    };
    for (const auto& c : cases) {
        TCGauge g;
        g.SetProgress(60);
        if (c.Min < g.MinValue()) {
            g.SetMinValue(c.Min);
            g.SetMaxValue(c.Max);
        } else {
            g.SetMaxValue(c.Max);
            g.SetMinValue(c.Min);
        }
        const int32_t progress = g.Progress();
        if (c.Message == nullptr) {
            EXPECT_NO_THROW(c.SetsMin ? g.SetMinValue(c.Value) : g.SetMaxValue(c.Value));
            EXPECT_EQ(c.SetsMin ? g.MinValue() : g.MaxValue(), c.Value);
        } else {
            try {
                c.SetsMin ? g.SetMinValue(c.Value) : g.SetMaxValue(c.Value);
                ADD_FAILURE() << "accepted " << c.Value;
            } catch (const Exception& e) {
                EXPECT_EQ(e.Message(), c.Message);
            }
            EXPECT_EQ(g.MinValue(), c.Min);
            EXPECT_EQ(g.MaxValue(), c.Max);
            EXPECT_EQ(g.Progress(), progress);
        }
        EXPECT_EQ(g.GetPercentDone(), c.Percent) << c.Value;
    }
}

TEST_F(GaugeSetters, ProgressFollowsAMovedBound) {
    gauge.SetProgress(50);
    EXPECT_EQ(PaintsDuring([&] { gauge.SetMaxValue(40); }), 1);
    EXPECT_EQ(gauge.Progress(), 40);
    gauge.SetMaxValue(100);
    EXPECT_EQ(PaintsDuring([&] { gauge.SetMinValue(45); }), 1);
    EXPECT_EQ(gauge.Progress(), 45);
    EXPECT_EQ(gauge.GetPercentDone(), 0);
}

TEST_F(GaugeSetters, HiddenGaugeIsNotPaintedAndTheScreenGetsThePicture) {
    gauge.SetForeColor(NavyColor);
    gauge.SetProgress(50);
    // The copy on the screen is the composed picture.
    EXPECT_EQ(gauge.grab().toImage().convertToFormat(QImage::Format_RGB32), gauge.RenderImage());
    gauge.hide();
    EXPECT_EQ(PaintsDuring([&] {
                  gauge.SetProgress(70);
                  gauge.AddProgress(1);
                  gauge.SetForeColor(QColor(1, 1, 1));
              }),
              0);
    EXPECT_EQ(gauge.Progress(), 71);
}

} // namespace
