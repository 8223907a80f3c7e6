// The GDI gauge's pictures, held to the expectations of every painter of the window's gauge, and
// its paint on the window within the setter's call.
#include "widgets/GaugePictures.h"
#include "win32/Main.h"

#include "app/RecordingBoxes.h"

#include "Scratch.h"

#include <gtest/gtest.h>

namespace {

GaugePictures::TPixels PixelsOf(const std::shared_ptr<TGdiBitmap>& image) {
    return [image](int x, int y) { return image->Pixel(x, y); };
}

// The window's gauge: 175 x 17, navy, in the window's font (MS Sans Serif, 8 points).
class GdiGaugePicture : public testing::Test {
protected:
    void SetUp() override {
        gauge.SetBounds(0, 0, 175, 17);
        gauge.SetForeColor(RGB(0, 0, 128));
        gauge.SetFont(font);
    }
    void TearDown() override { ::DeleteObject(font); }

    std::shared_ptr<TGdiBitmap> Render() const {
        std::shared_ptr<TGdiBitmap> image = gauge.RenderImage();
        EXPECT_NE(image, nullptr);
        return image;
    }

    HFONT font = ::CreateFontA(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                               OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                               DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif");
    TCGauge gauge{nullptr};
};

TEST_F(GdiGaugePicture, HorizontalBarFillsColumnsOneToLengthMinusOne) {
    gauge.SetShowText(false);
    for (const auto& c : GaugePictures::BarCases) {
        gauge.SetProgress(c.Percent);
        const auto image = Render();
        ASSERT_EQ(image->Width(), 175);
        ASSERT_EQ(image->Height(), 17);
        GaugePictures::ExpectBar(PixelsOf(image), c);
    }
}

TEST_F(GdiGaugePicture, TextInvertsTheColoursBeneathIt) {
    for (const auto& c : GaugePictures::TextCases) {
        gauge.SetProgress(c.Percent);
        GaugePictures::ExpectText(PixelsOf(Render()), c);
    }
}

TEST_F(GdiGaugePicture, PieAndNeedleKinds) {
    gauge.SetBounds(0, 0, 101, 101);
    gauge.SetShowText(false);
    gauge.SetColor(RGB(0, 128, 0));
    gauge.SetForeColor(RGB(0, 0, 0));
    gauge.SeTCGaugeKind(gkPie);
    gauge.SetProgress(25); // the upper right quarter
    auto image = Render();
    EXPECT_EQ(image->Pixel(70, 30), 0x000000u);
    EXPECT_EQ(image->Pixel(70, 70), 0xFFFFFFu);
    EXPECT_EQ(image->Pixel(30, 30), 0xFFFFFFu);
    EXPECT_EQ(image->Pixel(4, 4), 0x008000u) << "outside the ellipse the control's colour";
    gauge.SeTCGaugeKind(gkNeedle);
    gauge.SetProgress(50); // up from (50, 99) to (49, 0)
    image = Render();
    EXPECT_EQ(image->Pixel(3, 5), 0x008000u) << "outside the dial";
    for (int y = 2; y < 99; y += 8) {
        EXPECT_TRUE(image->Pixel(49, y) == 0 || image->Pixel(50, y) == 0) << y;
        EXPECT_EQ(image->Pixel(53, y), 0xFFFFFFu) << y;
    }
}

TEST(GdiGaugeOnTheWindow, RedrawnWithinTheCallOnlyWhenThePercentageChanges) {
    TScratch scratch;
    TInFolder in(scratch.Path());
    TRecordingBoxes boxes;
    TForm1 form;
    form.ShowAtStart();
    TCGauge& gauge = *form.cgPross;
    struct Step {
        int32_t Value;
        int Paints;
    };
    const Step steps[] = {{50, 1}, {50, 0}, {120, 1}, {100, 0}, {-5, 1}};
    for (const Step& step : steps) {
        const int before = gauge.PaintCount();
        form.SetGaugeProgress(step.Value);
        EXPECT_EQ(gauge.PaintCount() - before, step.Paints) << step.Value;
    }
    // What the window shows at the gauge's place is the composed picture.
    form.SetGaugeProgress(50);
    const std::shared_ptr<TGdiBitmap> picture = gauge.RenderImage();
    TGdiBitmap shown(175, 17);
    HDC dc = ::GetDC(form.Handle());
    ::BitBlt(shown.Canvas(), 0, 0, 175, 17, dc, 0, 104, SRCCOPY);
    ::ReleaseDC(form.Handle(), dc);
    int differing = 0;
    for (int y = 0; y < 17; ++y) {
        for (int x = 0; x < 175; ++x) {
            differing += shown.Pixel(x, y) != picture->Pixel(x, y) ? 1 : 0;
        }
    }
    EXPECT_EQ(differing, 0);
    // A hidden window is not painted on.
    ::ShowWindow(form.Handle(), SW_HIDE);
    const int before = gauge.PaintCount();
    form.SetGaugeProgress(70);
    EXPECT_EQ(gauge.PaintCount(), before);
}

} // namespace
