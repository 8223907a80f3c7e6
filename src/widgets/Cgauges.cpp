#include "widgets/Cgauges.h"

#include "base/Exception.h"
#include "base/Format.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <numbers>

void TBltBitmap::MatchSize(const QImage& templ) {
    QImage::operator=(QImage(templ.size(), QImage::Format_RGB32));
    if (!isNull()) {
        fill(WindowFrameColor);
    }
}

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

QPoint TextOrigin(const TGaugeRect& rect, int textWidth, int textHeight) {
    // Integer division truncates toward zero, as the centring wants.
    return {(rect.Right - rect.Left + 1 - textWidth) / 2,
            (rect.Bottom - rect.Top + 1 - textHeight) / 2};
}

QString PercentText(int percent) {
    return QString::number(percent) + QLatin1Char('%');
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
    const QPoint start{static_cast<int>(std::floor((1 - std::cos(angle)) * midX)),
                       static_cast<int>(std::floor((1 - std::sin(angle)) * midY))};
    return TPieSlice{box, start, QPoint{midX, 0}};
}

TPieSlice NeedleDial(const TGaugeRect& rect, int borderStyle) {
    const auto [w, h] = DialSize(rect, borderStyle);
    return TPieSlice{TGaugeRect{rect.Left, rect.Top, w, 2 * h - 1},
                     QPoint{rect.Left + w, rect.Bottom - 1}, QPoint{rect.Left, rect.Bottom - 1}};
}

std::optional<TNeedleLine> NeedleLine(const TGaugeRect& rect, int gaugeWidth, int percent) {
    if (percent <= 0) {
        return std::nullopt;
    }
    const int midX = gaugeWidth / 2;
    const double angle = percent * 0.01 * std::numbers::pi;
    const int base = rect.Bottom - 1;
    return TNeedleLine{QPoint{midX, base},
                       QPoint{static_cast<int>(std::floor((1 - std::cos(angle)) * midX)),
                              static_cast<int>(std::floor((1 - std::sin(angle)) * base))}};
}

namespace {

// The ellipse as drawn with a one-pixel pen covers the columns Left to Right - 1 and the rows Top
// to Bottom - 1.
QRect EllipseRect(const TGaugeRect& box) {
    return QRect(box.Left, box.Top, box.Right - box.Left - 1, box.Bottom - box.Top - 1);
}

// Qt measures arc angles on the circle that the ellipse is stretched from, so a radial's
// direction is turned into that angle: the point where the radial meets the ellipse.
double RadialAngle(const QRectF& ellipse, QPoint through) {
    const QPointF centre = ellipse.center();
    const double rx = std::max(ellipse.width() / 2, 0.5);
    const double ry = std::max(ellipse.height() / 2, 0.5);
    const double dx = (through.x() - centre.x()) / rx;
    const double dy = (centre.y() - through.y()) / ry;
    return std::atan2(dy, dx) * 180 / std::numbers::pi;
}

} // namespace

TArcAngles ArcAngles(const TGaugeRect& box, QPoint start, QPoint end) {
    const QRectF ellipse = EllipseRect(box);
    constexpr int FullCircle = 360 * 16;
    const int from = static_cast<int>(std::lround(RadialAngle(ellipse, start) * 16));
    const int to = static_cast<int>(std::lround(RadialAngle(ellipse, end) * 16));
    int span = ((to - from) % FullCircle + FullCircle) % FullCircle;
    if (span == 0) {
        span = FullCircle;
    }
    return {((from % FullCircle) + FullCircle) % FullCircle, span};
}

} // namespace GaugeGeometry

using namespace GaugeGeometry;

namespace {

QRect ToQRect(const TGaugeRect& r) {
    return QRect(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top);
}

void FillRect(QImage& bitmap, const TGaugeRect& r, const QColor& colour) {
    if (r.Right <= r.Left || r.Bottom <= r.Top) {
        return;
    }
    QPainter painter(&bitmap);
    painter.fillRect(ToQRect(r), colour);
}

// Combines the overlay into the image by a bitwise exclusive-or of the pixels at (0, 0).
void XorInto(QImage& image, const QImage& overlay) {
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    painter.drawImage(0, 0, overlay);
}

void DrawPie(QPainter& painter, const TPieSlice& slice) {
    const TArcAngles angles = ArcAngles(slice.Box, slice.Start, slice.End);
    painter.drawPie(EllipseRect(slice.Box), angles.Start, angles.Span);
}

} // namespace

TCGauge::TCGauge(QWidget* parent) : QWidget(parent) {
    // The gauge paints its whole rectangle itself: nothing behind it needs drawing.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
    resize(100, 100);
}

QColor TCGauge::Color() const {
    return palette().color(QPalette::Window);
}

void TCGauge::SetColor(const QColor& value) {
    if (value == Color()) {
        return;
    }
    QPalette pal = palette();
    pal.setColor(QPalette::Window, value);
    setPalette(pal);
    RedrawNow();
}

int32_t TCGauge::GetPercentDone() const {
    return PercentDone(FMinValue, FMaxValue, FProgress);
}

void TCGauge::SeTCGaugeKind(TCGaugeKind value) {
    if (value != FKind) {
        FKind = value;
        RedrawNow();
    }
}

void TCGauge::SetShowText(bool value) {
    if (value != FShowText) {
        FShowText = value;
        RedrawNow();
    }
}

void TCGauge::SetBorderStyle(uint8_t value) {
    if (value != FBorderStyle) {
        FBorderStyle = value;
        RedrawNow();
    }
}

void TCGauge::SetForeColor(const QColor& value) {
    if (value != FForeColor) {
        FForeColor = value;
        RedrawNow();
    }
}

void TCGauge::SetBackColor(const QColor& value) {
    if (value != FBackColor) {
        FBackColor = value;
        RedrawNow();
    }
}

void TCGauge::SetMinValue(int32_t value) {
    if (value == FMinValue) {
        return;
    }
    if (value > FMaxValue) {
        // The bound is worked out in 64 bits so that a maximum of -2147483648 cannot overflow.
        throw Exception(Format("Value must be between %lld and %lld", -2147483647LL,
                               static_cast<long long>(FMaxValue) - 1));
    }
    FMinValue = value;
    if (FProgress < value) {
        FProgress = value;
    }
    RedrawNow();
}

void TCGauge::SetMaxValue(int32_t value) {
    if (value == FMaxValue) {
        return;
    }
    if (value < FMinValue) {
        throw Exception(Format("Value must be between %lld and %lld",
                               static_cast<long long>(FMinValue) + 1, 2147483647LL));
    }
    FMaxValue = value;
    if (FProgress > value) {
        FProgress = value;
    }
    RedrawNow();
}

void TCGauge::SetProgress(int32_t value) {
    const int32_t oldPercent = GetPercentDone();
    value = std::clamp(value, FMinValue, FMaxValue);
    if (value != FProgress) {
        FProgress = value;
        if (GetPercentDone() != oldPercent) {
            RedrawNow();
        }
    }
}

void TCGauge::AddProgress(int32_t delta) {
    // The sum is taken in 64 bits: in 32 bits a large increment would wrap round and pull the
    // gauge back to its minimum instead of filling it.
    const int64_t sum = static_cast<int64_t>(FProgress) + delta;
    SetProgress(static_cast<int32_t>(std::clamp<int64_t>(sum, FMinValue, FMaxValue)));
    RedrawNow();
}

void TCGauge::RedrawNow() {
    if (isVisible()) {
        repaint();
    }
}

QImage TCGauge::RenderImage() const {
    const int w = width();
    const int h = height();
    if (w <= 0 || h <= 0) {
        return QImage();
    }
    QImage image(w, h, QImage::Format_RGB32);
    PaintBackground(image);
    const TGaugeRect rect = PaintRect(w, h, FBorderStyle);

    TBltBitmap overlay;
    overlay.MatchSize(image);
    PaintBackground(overlay);
    switch (FKind) {
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
    // The image is black, so the result is the overlay; the frame outside the paint rectangle
    // stays black.
    XorInto(image, overlay);

    if (FShowText) {
        PaintAsText(image, rect);
    }
    return image;
}

void TCGauge::paintEvent(QPaintEvent* /*event*/) {
    ++FPaintCount;
    const QImage image = RenderImage();
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, image);
}

void TCGauge::PaintBackground(QImage& bitmap) const {
    FillRect(bitmap, TGaugeRect{0, 0, width(), height()}, Qt::black);
}

void TCGauge::PaintAsNothing(QImage& bitmap, const TGaugeRect& rect) const {
    FillRect(bitmap, rect, FBackColor);
}

void TCGauge::PaintAsBar(QImage& bitmap, const TGaugeRect& rect) const {
    FillRect(bitmap, rect, FBackColor);
    const int percent = GetPercentDone();
    if (FKind == gkHorizontalBar) {
        if (const auto fill = HorizontalBarFill(rect, percent)) {
            FillRect(bitmap, *fill, FForeColor);
        }
    } else {
        FillRect(bitmap, VerticalBarFill(rect, percent), FForeColor);
    }
}

void TCGauge::PaintAsText(QImage& image, const TGaugeRect& rect) const {
    const QString text = PercentText(GetPercentDone());
    TBltBitmap overlay;
    overlay.MatchSize(image);
    PaintBackground(overlay);
    {
        QPainter painter(&overlay);
        // Without antialiasing every pixel of the text is either white or untouched, so the
        // exclusive-or below inverts exactly the colours under the text.
        QFont textFont = font();
        textFont.setStyleStrategy(QFont::NoAntialias);
        painter.setFont(textFont);
        painter.setRenderHint(QPainter::TextAntialiasing, false);
        painter.setPen(Qt::white);
        painter.setBackgroundMode(Qt::TransparentMode);
        const QFontMetrics metrics = painter.fontMetrics();
        const QPoint origin = TextOrigin(rect, metrics.horizontalAdvance(text), metrics.height());
        painter.setClipRect(ToQRect(rect));
        painter.drawText(origin.x(), origin.y() + metrics.ascent(), text);
    }
    XorInto(image, overlay);
}

void TCGauge::PaintAsPie(QImage& bitmap, const TGaugeRect& rect) const {
    FillRect(bitmap, rect, Color());
    QPainter painter(&bitmap);
    painter.setPen(QPen(FForeColor, 1));
    painter.setBrush(FBackColor);
    painter.drawEllipse(EllipseRect(PieBox(rect, FBorderStyle)));
    if (const auto slice = PieSlice(rect, FBorderStyle, GetPercentDone())) {
        painter.setBrush(FForeColor);
        DrawPie(painter, *slice);
    }
}

void TCGauge::PaintAsNeedle(QImage& bitmap, const TGaugeRect& rect) const {
    FillRect(bitmap, rect, Color());
    QPainter painter(&bitmap);
    painter.setPen(QPen(FForeColor, 1));
    painter.setBrush(FBackColor);
    const TPieSlice dial = NeedleDial(rect, FBorderStyle);
    DrawPie(painter, dial);
    // The base line of the dial; its end point is not drawn.
    if (dial.Start.x() - 1 >= rect.Left) {
        painter.drawLine(QPoint{rect.Left, rect.Bottom}, QPoint{dial.Start.x() - 1, rect.Bottom});
    }
    if (const auto needle = NeedleLine(rect, width(), GetPercentDone())) {
        painter.drawLine(needle->From, needle->To);
    }
}
