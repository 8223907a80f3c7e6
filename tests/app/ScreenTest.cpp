// What the window paints, read back from the screen of a real X server.
#include "app/Main.h"

#include "RecordingBoxes.h"
#include "Scratch.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include <chrono>

namespace {

// Where an image holds text ink: pixels far darker than the window's face behind the text.
struct TInk {
    int Left = -1, Right = -1, Top = -1, Bottom = -1;
    int Width() const { return Left < 0 ? 0 : Right - Left + 1; }
    int Height() const { return Top < 0 ? 0 : Bottom - Top + 1; }
};

TInk InkOf(const QImage& image, const QColor& face) {
    TInk ink;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qGray(image.pixel(x, y)) >= qGray(face.rgb()) - 96) {
                continue;
            }
            ink.Left = ink.Left < 0 ? x : std::min(ink.Left, x);
            ink.Right = std::max(ink.Right, x);
            ink.Top = ink.Top < 0 ? y : ink.Top;
            ink.Bottom = y;
        }
    }
    return ink;
}

// Run at the scale of QT_SCALE_FACTOR (the tests run at 1 and 2): each caption's text, as the
// screen shows it, is as wide and as high as the same text painted with room to spare.
TEST(Screen, EveryCaptionShowsItsWholeText) {
    TScratch scratch;
    TInFolder in(scratch.Path());
    TRecordingBoxes boxes;
    TForm1 form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form, 5000));
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const QColor face = form.palette().color(QPalette::Window);
    for (QLabel* label : {form.Label1, form.Label2}) {
        SCOPED_TRACE(label->text().toStdString());
        constexpr int Margin = 4;
        // The same caption alone, off the window, in the same font and colours and twice as wide
        // as it needs.
        QLabel alone(label->text());
        alone.setFont(label->font());
        alone.setPalette(form.palette());
        alone.setAutoFillBackground(true);
        alone.resize(2 * label->sizeHint().width(), label->sizeHint().height() + 2 * Margin);
        const QImage reference = alone.grab().toImage();
        const TInk whole = InkOf(reference, face);
        ASSERT_GT(whole.Width(), 0);

        // On the screen: from the window's edge to the caption's box, a little above and below
        // the caption. Nothing else is painted there.
        const QPoint corner = form.mapToGlobal(QPoint(0, label->y() - Margin));
        const QSize size(form.edIP->x(), label->height() + 2 * Margin);
        QImage shown;
        TInk painted;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        do {
            QTest::qWait(50);
            shown = screen->grabWindow(0, corner.x(), corner.y(), size.width(), size.height())
                        .toImage();
            painted = InkOf(shown, face);
        } while (painted.Width() == 0 && std::chrono::steady_clock::now() < until);
        EXPECT_EQ(shown.devicePixelRatio(), reference.devicePixelRatio());
        EXPECT_EQ(shown.width(), qRound(size.width() * reference.devicePixelRatio()));
        EXPECT_EQ(painted.Width(), whole.Width());
        EXPECT_EQ(painted.Height(), whole.Height());
        EXPECT_GT(painted.Left, 0) << "the text touches the window's edge";
    }
}

} // namespace
