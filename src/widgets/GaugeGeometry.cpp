#include "widgets/GaugeGeometry.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

namespace GaugeGeometry {

int PercentDone(int32_t minValue, int32_t maxValue, int32_t progress) {
    // In double, not in 32 bits: a range wider than half the integers (from -2147483647 to
    // 2147483647, say) must not wrap round to a negative percentage.
    const double range = static_cast<double>(maxValue) - minValue;
    const double part = static_cast<double>(progress) - minValue;
    if (range == 0) {
        return 0;
    }
    return static_cast<int>(std::floor(part * 100 / range));
}

TGaugeRect PaintRect(int width, int height, int borderStyle) {
    TGaugeRect rect{0, 0, width, height};
    if (borderStyle == bsSingle) {
        rect = {1, 1, width - 1, height - 1};
    }
    return rect;
}

std::optional<TGaugeRect> HorizontalBarFill(const TGaugeRect& rect, int percent) {
    const int w = rect.Right - rect.Left + 1;
    const int h = rect.Bottom - rect.Top + 1;
    const int length = std::min(static_cast<int>(std::floor(percent * 0.01 * w)), w);
    if (length <= 0) {
        return std::nullopt;
    }
    // The length and the height are the right and bottom edges themselves, not offsets from the
    // left and top: with the frame the bar starts one pixel in yet ends at column length - 1.
    return TGaugeRect{rect.Left, rect.Top, length, h};
}

TGaugeRect VerticalBarFill(const TGaugeRect& rect, int percent) {
    const int w = rect.Right - rect.Left + 1;
    const int h = rect.Bottom - rect.Top + 1;
    int length = static_cast<int>(std::floor(percent * 0.01 * h));
    if (length >= h) {
        length = h - 1;
    }
    return TGaugeRect{rect.Left, h - length, w, h};
}

TGaugePoint TextOrigin(const TGaugeRect& rect, int textWidth, int textHeight) {
    // Integer division truncates toward zero, as the centring wants.
    return {(rect.Right - rect.Left + 1 - textWidth) / 2,
            (rect.Bottom - rect.Top + 1 - textHeight) / 2};
}

std::string PercentText(int percent) {
    return std::to_string(percent) + '%';
}

namespace {

// Width and height of the pie and needle kinds: the rectangle's, one more with the frame.
std::pair<int, int> DialSize(const TGaugeRect& rect, int borderStyle) {
    int w = rect.Right - rect.Left;
    int h = rect.Bottom - rect.Top;
    if (borderStyle == bsSingle) {
        ++w;
        ++h;
    }
    return {w, h};
}

} // namespace

TGaugeRect PieBox(const TGaugeRect& rect, int borderStyle) {
    const auto [w, h] = DialSize(rect, borderStyle);
    // W and H are the right and bottom edges of the box, as for the bar.
    return {rect.Left, rect.Top, w, h};
}

std::optional<TPieSlice> PieSlice(const TGaugeRect& rect, int borderStyle, int percent) {
    if (percent <= 0) {
        return std::nullopt;
    }
    const TGaugeRect box = PieBox(rect, borderStyle);
    const int midX = box.Right / 2;
    const int midY = box.Bottom / 2;
    const double angle = (percent * 0.02 + 0.5) * std::numbers::pi;
    const TGaugePoint start{static_cast<int>(std::floor((1 - std::cos(angle)) * midX)),
                            static_cast<int>(std::floor((1 - std::sin(angle)) * midY))};
    return TPieSlice{box, start, TGaugePoint{midX, 0}};
}

TPieSlice NeedleDial(const TGaugeRect& rect, int borderStyle) {
    const auto [w, h] = DialSize(rect, borderStyle);
    return TPieSlice{TGaugeRect{rect.Left, rect.Top, w, 2 * h - 1},
                     TGaugePoint{rect.Left + w, rect.Bottom - 1},
                     TGaugePoint{rect.Left, rect.Bottom - 1}};
}

std::optional<TNeedleLine> NeedleLine(const TGaugeRect& rect, int gaugeWidth, int percent) {
    if (percent <= 0) {
        return std::nullopt;
    }
    const int midX = gaugeWidth / 2;
    const double angle = percent * 0.01 * std::numbers::pi;
    const int base = rect.Bottom - 1;
    return TNeedleLine{TGaugePoint{midX, base},
                       TGaugePoint{static_cast<int>(std::floor((1 - std::cos(angle)) * midX)),
                                   static_cast<int>(std::floor((1 - std::sin(angle)) * base))}};
}

namespace {

// The direction of the radial through a point as an angle, in degrees counter-clockwise from
// three o'clock, on the circle that the ellipse is stretched from: the angle of the point where
// the radial meets the ellipse. The ellipse drawn in the box covers its columns Left to
// Right - 1 and its rows Top to Bottom - 1.
double RadialAngle(const TGaugeRect& box, TGaugePoint through) {
    const double width = box.Right - box.Left - 1;
    const double height = box.Bottom - box.Top - 1;
    const double centreX = box.Left + width / 2;
    const double centreY = box.Top + height / 2;
    const double rx = std::max(width / 2, 0.5);
    const double ry = std::max(height / 2, 0.5);
    const double dx = (through.X - centreX) / rx;
    const double dy = (centreY - through.Y) / ry;
    return std::atan2(dy, dx) * 180 / std::numbers::pi;
}

} // namespace

TArcAngles ArcAngles(const TGaugeRect& box, TGaugePoint start, TGaugePoint end) {
    constexpr int FullCircle = 360 * 16;
    const int from = static_cast<int>(std::lround(RadialAngle(box, start) * 16));
    const int to = static_cast<int>(std::lround(RadialAngle(box, end) * 16));
    int span = ((to - from) % FullCircle + FullCircle) % FullCircle;
    if (span == 0) {
        span = FullCircle;
    }
    return {((from % FullCircle) + FullCircle) % FullCircle, span};
}

} // namespace GaugeGeometry
