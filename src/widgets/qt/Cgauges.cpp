#include "widgets/Cgauges.h"

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

QColor ToQColor(TGaugeColour c) {
    return QColor(c.Red, c.Green, c.Blue);
}

TGaugeColour ToGaugeColour(const QColor& c) {
    return {static_cast<uint8_t>(c.red()), static_cast<uint8_t>(c.green()),
            static_cast<uint8_t>(c.blue())};
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

QColor TCGauge::ForeColor() const {
    return ToQColor(FModel.ForeColor());
}

QColor TCGauge::BackColor() const {
    return ToQColor(FModel.BackColor());
}

void TCGauge::SetForeColor(const QColor& value) {
    RedrawIf(FModel.SetForeColor(ToGaugeColour(value)));
}

void TCGauge::SetBackColor(const QColor& value) {
    RedrawIf(FModel.SetBackColor(ToGaugeColour(value)));
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
    Compose(image, w, h);
    return image;
}

void TCGauge::paintEvent(QPaintEvent* /*event*/) {
    ++FPaintCount;
    const QImage image = RenderImage();
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, image);
}

void TCGauge::XorInto(QImage& image, const QImage& overlay) const {
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    painter.drawImage(0, 0, overlay);
}

void TCGauge::PaintBackground(QImage& bitmap) const {
    FillRect(bitmap, TGaugeRect{0, 0, width(), height()}, Qt::black);
}

void TCGauge::PaintAsNothing(QImage& bitmap, const TGaugeRect& rect) const {
    FillRect(bitmap, rect, BackColor());
}

void TCGauge::PaintAsBar(QImage& bitmap, const TGaugeRect& rect) const {
    FillRect(bitmap, rect, BackColor());
    const int percent = GetPercentDone();
    if (Kind() == gkHorizontalBar) {
        if (const auto fill = HorizontalBarFill(rect, percent)) {
            FillRect(bitmap, *fill, ForeColor());
        }
    } else {
        FillRect(bitmap, VerticalBarFill(rect, percent), ForeColor());
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
    painter.setPen(QPen(ForeColor(), 1));
    painter.setBrush(BackColor());
    painter.drawEllipse(EllipseRect(PieBox(rect, BorderStyle())));
    if (const auto slice = PieSlice(rect, BorderStyle(), GetPercentDone())) {
        painter.setBrush(ForeColor());
        DrawPie(painter, *slice);
    }
}

void TCGauge::PaintAsNeedle(QImage& bitmap, const TGaugeRect& rect) const {
    FillRect(bitmap, rect, Color());
    QPainter painter(&bitmap);
    painter.setPen(QPen(ForeColor(), 1));
    painter.setBrush(BackColor());
    const TPieSlice dial = NeedleDial(rect, BorderStyle());
    DrawPie(painter, dial);
    // The base line of the dial; its end point is not drawn.
    if (dial.Start.X - 1 >= rect.Left) {
        painter.drawLine(QPoint{rect.Left, rect.Bottom}, QPoint{dial.Start.X - 1, rect.Bottom});
    }
    if (const auto needle = NeedleLine(rect, width(), GetPercentDone())) {
        painter.drawLine(ToQPoint(needle->From), ToQPoint(needle->To));
    }
}
