#include "widgets/Cgauges.h"

#include "base/Exception.h"
#include "base/Format.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>

void TBltBitmap::MatchSize(const QImage& templ) {
    QImage::operator=(QImage(templ.size(), QImage::Format_RGB32));
    if (!isNull()) {
        fill(WindowFrameColor);
    }
}

using namespace GaugeGeometry;

namespace {

QRect ToQRect(const TGaugeRect& r) {
    return QRect(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top);
}

QPoint ToQPoint(TGaugePoint p) {
    return QPoint(p.X, p.Y);
}

// The ellipse as drawn with a one-pixel pen covers the columns Left to Right - 1 and the rows Top
// to Bottom - 1.
QRect EllipseRect(const TGaugeRect& box) {
    return QRect(box.Left, box.Top, box.Right - box.Left - 1, box.Bottom - box.Top - 1);
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
    const QString text = QString::fromStdString(PercentText(GetPercentDone()));
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
        const QPoint origin =
            ToQPoint(TextOrigin(rect, metrics.horizontalAdvance(text), metrics.height()));
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
    if (dial.Start.X - 1 >= rect.Left) {
        painter.drawLine(QPoint{rect.Left, rect.Bottom}, QPoint{dial.Start.X - 1, rect.Bottom});
    }
    if (const auto needle = NeedleLine(rect, width(), GetPercentDone())) {
        painter.drawLine(ToQPoint(needle->From), ToQPoint(needle->To));
    }
}
