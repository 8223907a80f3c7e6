// The arithmetic of the progress gauge's picture, in plain integers and without any toolkit: the
// percentage, the paint rectangle, the bars, the place of the text, the pie and the needle. Every
// painter of the gauge (the Qt widget, the GDI one) draws from these.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

enum TCGaugeKind : uint8_t { gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle };

// 0 draws no frame, 1 a one-pixel black frame; any value other than 1 draws no frame.
enum TGaugeBorderStyle : uint8_t { bsNone = 0, bsSingle = 1 };

// A rectangle by its edges. Filling it covers the pixels from Left up to but not including Right
// and from Top up to but not including Bottom.
struct TGaugeRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    friend bool operator==(const TGaugeRect&, const TGaugeRect&) = default;
};

struct TGaugePoint {
    int X = 0;
    int Y = 0;
    friend bool operator==(const TGaugePoint&, const TGaugePoint&) = default;
};

namespace GaugeGeometry {

// floor(part * 100 / range) in floating point; 0 when the range is empty.
int PercentDone(int32_t minValue, int32_t maxValue, int32_t progress);

// The client rectangle, shrunk by one pixel on each side when the border style is single.
TGaugeRect PaintRect(int width, int height, int borderStyle);

// The filled part of a horizontal bar; empty when nothing is filled.
std::optional<TGaugeRect> HorizontalBarFill(const TGaugeRect& rect, int percent);

// The filled part of a vertical bar.
TGaugeRect VerticalBarFill(const TGaugeRect& rect, int percent);

// Top-left corner of the percentage text, measured from the bitmap's origin.
TGaugePoint TextOrigin(const TGaugeRect& rect, int textWidth, int textHeight);

// The text written over the picture: the percentage followed by "%".
std::string PercentText(int percent);

// A pie slice as drawn: the bounding box (right and bottom excluded) and the radial points that
// start and end it, the slice running counter-clockwise from the start to the end.
struct TPieSlice {
    TGaugeRect Box;
    TGaugePoint Start;
    TGaugePoint End;
};

// The ellipse's bounding box and, when the percentage is above 0, the slice of the pie kind.
TGaugeRect PieBox(const TGaugeRect& rect, int borderStyle);
std::optional<TPieSlice> PieSlice(const TGaugeRect& rect, int borderStyle, int percent);

// The half dial of the needle kind and the needle itself (none at 0).
TPieSlice NeedleDial(const TGaugeRect& rect, int borderStyle);
struct TNeedleLine {
    TGaugePoint From;
    TGaugePoint To;
};
std::optional<TNeedleLine> NeedleLine(const TGaugeRect& rect, int gaugeWidth, int percent);

// For painters that draw a slice by its angles rather than its radial points: the start angle
// and span, in sixteenths of a degree counter-clockwise from three o'clock, of the slice of the
// ellipse in the box (drawn with a one-pixel pen, so covering the columns Left to Right - 1 and
// the rows Top to Bottom - 1) that runs counter-clockwise between the radials through the two
// points. Coinciding radials give the whole ellipse.
struct TArcAngles {
    int Start = 0;
    int Span = 0;
};
TArcAngles ArcAngles(const TGaugeRect& box, TGaugePoint start, TGaugePoint end);

} // namespace GaugeGeometry
