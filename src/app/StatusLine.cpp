#include "app/StatusLine.h"

#include <QPainter>

TStatusLine::TStatusLine(QWidget* parent) : QStatusBar(parent) {}

void TStatusLine::SetText(const QString& text) {
    if (text == FText) {
        return;
    }
    FText = text;
    update();
}

void TStatusLine::PaintNow() {
    repaint();
}

void TStatusLine::PaintWhenDue() {
    if (Clock::now() - FLastPaint >= FPaintInterval) {
        repaint();
    }
}

void TStatusLine::paintEvent(QPaintEvent* event) {
    QStatusBar::paintEvent(event);
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    // Where the status bar writes a message of its own: a small margin at the left.
    const QRect area = rect().adjusted(6, 0, -2, 0);
    painter.drawText(area, Qt::AlignLeading | Qt::AlignVCenter | Qt::TextSingleLine, FText);
    FLastPaint = Clock::now();
    ++FPaintCount;
    FPaintedText = FText;
    if (OnPainted) {
        OnPainted(FText);
    }
}
