// The progress gauge: an integer value between a minimum and a maximum, shown as a whole
// percentage in one of five kinds (text, horizontal or vertical bar, pie, needle dial). Each
// picture is composed off screen and reaches the screen in one copy, so the gauge never flickers.
#pragma once

#include "widgets/GaugeModel.h"

#include <QColor>
#include <QImage>
#include <QWidget>

#include <cstdint>

// The colour an off-screen bitmap is cleared to. Qt has no window-frame role in its palette; the
// usual window-frame colour is black, which is what this is.
inline const QColor WindowFrameColor{0, 0, 0};

// An off-screen bitmap used as an overlay while a picture is composed.
class TBltBitmap : public QImage {
public:
    TBltBitmap() = default;
    // Takes the template's width and height, then fills the whole bitmap with the window-frame
    // colour, solid.
    void MatchSize(const QImage& templ);
};

class TCGauge : public QWidget, public TGaugePainter<QImage, TBltBitmap> {
    Q_OBJECT

public:
    // Defaults: horizontal bar, text shown, single border, black on white, 0 to 100 at 0,
    // 100 x 100 pixels.
    explicit TCGauge(QWidget* parent = nullptr);

    QColor ForeColor() const;
    QColor BackColor() const;
    // The control's background colour, taken from the parent unless set; the pie and needle
    // kinds fill their rectangle with it first.
    QColor Color() const;
    void SetColor(const QColor& value);

    // The other setters are TGaugeControl's; each redraws now when the model says so.
    void SetForeColor(const QColor& value);
    void SetBackColor(const QColor& value);

    // The picture as the gauge paints it, composed off screen.
    QImage RenderImage() const;
    // How many times the gauge has been painted on the screen.
    int PaintCount() const { return FPaintCount; }

protected:
    void paintEvent(QPaintEvent* event) override;

    void PaintBackground(QImage& bitmap) const override;
    void PaintAsText(QImage& image, const TGaugeRect& rect) const override;
    void PaintAsNothing(QImage& bitmap, const TGaugeRect& rect) const override;
    void PaintAsBar(QImage& bitmap, const TGaugeRect& rect) const override;
    void PaintAsPie(QImage& bitmap, const TGaugeRect& rect) const override;
    void PaintAsNeedle(QImage& bitmap, const TGaugeRect& rect) const override;
    void XorInto(QImage& image, const QImage& overlay) const override;

private:
    void RedrawNow() override;

    int FPaintCount = 0;
};
