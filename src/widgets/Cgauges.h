// The progress gauge: an integer value between a minimum and a maximum, shown as a whole
// percentage in one of five kinds (text, horizontal or vertical bar, pie, needle dial). Each
// picture is composed off screen and reaches the screen in one copy, so the gauge never flickers.
#pragma once

#include "widgets/GaugeGeometry.h"
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

class TCGauge : public QWidget {
    Q_OBJECT

public:
    // Defaults: horizontal bar, text shown, single border, black on white, 0 to 100 at 0,
    // 100 x 100 pixels.
    explicit TCGauge(QWidget* parent = nullptr);

    TCGaugeKind Kind() const { return FModel.Kind(); }
    bool ShowText() const { return FModel.ShowText(); }
    uint8_t BorderStyle() const { return FModel.BorderStyle(); }
    QColor ForeColor() const;
    QColor BackColor() const;
    int32_t MinValue() const { return FModel.MinValue(); }
    int32_t MaxValue() const { return FModel.MaxValue(); }
    int32_t Progress() const { return FModel.Progress(); }
    // The control's background colour, taken from the parent unless set; the pie and needle
    // kinds fill their rectangle with it first.
    QColor Color() const;
    void SetColor(const QColor& value);

    int32_t GetPercentDone() const;

    // The rules are TGaugeModel's; each setter redraws now when the model says so.
    void SeTCGaugeKind(TCGaugeKind value);
    void SetShowText(bool value);
    void SetBorderStyle(uint8_t value);
    void SetForeColor(const QColor& value);
    void SetBackColor(const QColor& value);
    void SetMinValue(int32_t value);
    void SetMaxValue(int32_t value);
    void SetProgress(int32_t value);
    void AddProgress(int32_t delta);

    // The picture as the gauge paints it, composed off screen.
    QImage RenderImage() const;
    // How many times the gauge has been painted on the screen.
    int PaintCount() const { return FPaintCount; }

protected:
    void paintEvent(QPaintEvent* event) override;

    // The steps of composing a picture.
    void PaintBackground(QImage& bitmap) const;
    void PaintAsText(QImage& image, const TGaugeRect& rect) const;
    void PaintAsNothing(QImage& bitmap, const TGaugeRect& rect) const;
    void PaintAsBar(QImage& bitmap, const TGaugeRect& rect) const;
    void PaintAsPie(QImage& bitmap, const TGaugeRect& rect) const;
    void PaintAsNeedle(QImage& bitmap, const TGaugeRect& rect) const;

private:
    // Paints on the screen within the call, without waiting for the event loop: the transfer
    // that moves the gauge blocks the loop.
    void RedrawNow();

    // Redraws now when a setter of the model said so.
    void RedrawIf(bool changed);

    TGaugeModel FModel;
    int FPaintCount = 0;
};
