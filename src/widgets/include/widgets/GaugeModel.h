// The progress gauge without any toolkit: its properties and the rules of their setters (the
// bounds, the clamping of the progress, the refusal of a crossed bound, when a change must be
// redrawn at once), and the composition of its picture from a painter's drawing steps. Every
// painter of the gauge (the Qt widget, the GDI one) derives from TGaugePainter.
#pragma once

#include "widgets/GaugeGeometry.h"

#include <cstdint>

// A colour by its red, green and blue parts.
struct TGaugeColour {
    uint8_t Red = 0;
    uint8_t Green = 0;
    uint8_t Blue = 0;
    friend bool operator==(const TGaugeColour&, const TGaugeColour&) = default;
};

class TGaugeModel {
public:
    // Defaults: horizontal bar, text shown, single border, black on white, 0 to 100 at 0.
    TCGaugeKind Kind() const { return FKind; }
    bool ShowText() const { return FShowText; }
    uint8_t BorderStyle() const { return FBorderStyle; }
    TGaugeColour ForeColor() const { return FForeColor; }
    TGaugeColour BackColor() const { return FBackColor; }
    int32_t MinValue() const { return FMinValue; }
    int32_t MaxValue() const { return FMaxValue; }
    int32_t Progress() const { return FProgress; }

    // The whole percentage of the progress between the bounds.
    int32_t PercentDone() const;

    // Every setter returns whether the gauge must be redrawn now.
    // A differing value is stored and redrawn; an equal one changes nothing.
    bool SetKind(TCGaugeKind value);
    bool SetShowText(bool value);
    bool SetBorderStyle(uint8_t value);
    bool SetForeColor(TGaugeColour value);
    bool SetBackColor(TGaugeColour value);
    // A minimum above the maximum (or a maximum below the minimum) is refused with an Exception
    // "Value must be between %d and %d", changing nothing; otherwise it is stored, the progress
    // pulled within the bounds, and redrawn. An unchanged bound changes nothing.
    bool SetMinValue(int32_t value);
    bool SetMaxValue(int32_t value);
    // Clamps the value to the bounds and stores it; redrawn only when the whole percentage
    // changed, so that a transfer of many blocks redraws at most about a hundred times.
    bool SetProgress(int32_t value);
    // Adds the increment, clamped to the bounds; redrawn in any case.
    bool AddProgress(int32_t delta);

private:
    TCGaugeKind FKind = gkHorizontalBar;
    bool FShowText = true;
    uint8_t FBorderStyle = bsSingle;
    TGaugeColour FForeColor{0, 0, 0};
    TGaugeColour FBackColor{255, 255, 255};
    int32_t FMinValue = 0;
    int32_t FMaxValue = 100;
    int32_t FProgress = 0;
};

// A gauge control: the properties of its model, and the setters, each redrawing the control now
// when the model's rule says so. The colour setters, whose colour type is the toolkit's, are the
// painter's own.
class TGaugeControl {
public:
    virtual ~TGaugeControl() = default;

    TCGaugeKind Kind() const { return FModel.Kind(); }
    bool ShowText() const { return FModel.ShowText(); }
    uint8_t BorderStyle() const { return FModel.BorderStyle(); }
    int32_t MinValue() const { return FModel.MinValue(); }
    int32_t MaxValue() const { return FModel.MaxValue(); }
    int32_t Progress() const { return FModel.Progress(); }
    int32_t GetPercentDone() const { return FModel.PercentDone(); }

    void SeTCGaugeKind(TCGaugeKind value) { RedrawIf(FModel.SetKind(value)); }
    void SetShowText(bool value) { RedrawIf(FModel.SetShowText(value)); }
    void SetBorderStyle(uint8_t value) { RedrawIf(FModel.SetBorderStyle(value)); }
    void SetMinValue(int32_t value) { RedrawIf(FModel.SetMinValue(value)); }
    void SetMaxValue(int32_t value) { RedrawIf(FModel.SetMaxValue(value)); }
    void SetProgress(int32_t value) { RedrawIf(FModel.SetProgress(value)); }
    void AddProgress(int32_t delta) { RedrawIf(FModel.AddProgress(delta)); }

protected:
    // Paints the gauge on the screen within the call, without waiting for the event loop: the
    // transfer that moves the gauge blocks the loop. Nothing while the gauge is not shown.
    virtual void RedrawNow() = 0;
    void RedrawIf(bool changed) {
        if (changed) {
            RedrawNow();
        }
    }

    TGaugeModel FModel;
};

// A painter of the gauge on off-screen bitmaps of type TBitmap, its overlays of type TOverlay (a
// TBitmap with MatchSize). Compose makes the picture from the painter's steps.
template <class TBitmap, class TOverlay>
class TGaugePainter : public TGaugeControl {
protected:
    // The picture, on an image of the gauge's size: the background, the kind's drawing on an
    // overlay combined into the image by exclusive-or (the image is black, so the result is the
    // overlay, and the frame outside the paint rectangle stays black), then the text.
    void Compose(TBitmap& image, int width, int height) const {
        PaintBackground(image);
        const TGaugeRect rect = GaugeGeometry::PaintRect(width, height, BorderStyle());
        TOverlay overlay;
        overlay.MatchSize(image);
        PaintBackground(overlay);
        switch (Kind()) {
        case gkText:
            PaintAsNothing(overlay, rect);
            break;
        case gkHorizontalBar:
        case gkVerticalBar:
            PaintAsBar(overlay, rect);
            break;
        case gkPie:
            PaintAsPie(overlay, rect);
            break;
        case gkNeedle:
            PaintAsNeedle(overlay, rect);
            break;
        }
        XorInto(image, overlay);
        if (ShowText()) {
            PaintAsText(image, rect);
        }
    }

    // The steps of composing a picture.
    virtual void PaintBackground(TBitmap& bitmap) const = 0;
    virtual void PaintAsText(TBitmap& image, const TGaugeRect& rect) const = 0;
    virtual void PaintAsNothing(TBitmap& bitmap, const TGaugeRect& rect) const = 0;
    virtual void PaintAsBar(TBitmap& bitmap, const TGaugeRect& rect) const = 0;
    virtual void PaintAsPie(TBitmap& bitmap, const TGaugeRect& rect) const = 0;
    virtual void PaintAsNeedle(TBitmap& bitmap, const TGaugeRect& rect) const = 0;
    // Combines the overlay into the image by a bitwise exclusive-or of the pixels at (0, 0).
    virtual void XorInto(TBitmap& image, const TBitmap& overlay) const = 0;
};
