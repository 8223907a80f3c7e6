// The progress gauge's properties and the rules of their setters, without any toolkit: the
// bounds, the clamping of the progress, the refusal of a crossed bound, and when a change must be
// redrawn at once. Every painter of the gauge (the Qt widget, the GDI one) keeps one and redraws
// when a setter says so.
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
