#include "app/Icon.h"

#include <QImage>
#include <QPainter>

namespace {

// Drawn on a 32-unit grid and scaled to the image's size, then reduced to the sixteen colours.
QImage Draw(int size) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.scale(size / 32.0, size / 32.0);
    p.setPen(Qt::NoPen);
    // The device: a navy box with a row of lights.
    p.setBrush(QColor(0, 0, 128));
    p.drawRect(2, 18, 28, 12);
    p.setBrush(QColor(0, 255, 0));
    p.drawRect(6, 24, 4, 3);
    p.setBrush(QColor(255, 255, 0));
    p.drawRect(13, 24, 4, 3);
    p.setBrush(QColor(255, 0, 0));
    p.drawRect(20, 24, 4, 3);
    // The arrow bringing the firmware down.
    p.setBrush(QColor(0, 128, 128));
    p.drawRect(12, 1, 8, 9);
    const QPointF head[] = {{5, 9}, {27, 9}, {16, 18}};
    p.drawPolygon(head, 3);
    p.end();
    QImage indexed = image.convertToFormat(QImage::Format_Indexed8, ToolIconPalette(),
                                           Qt::ThresholdDither | Qt::AvoidDither);
    // The transparent surround stays transparent.
    QImage result = indexed.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            if (qAlpha(image.pixel(x, y)) < 128) {
                result.setPixel(x, y, qRgba(0, 0, 0, 0));
            }
        }
    }
    return result;
}

} // namespace

const QList<QRgb>& ToolIconPalette() {
    static const QList<QRgb> palette = {
        qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
        qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
        qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
        qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255)};
    return palette;
}

QIcon ToolIcon() {
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(Draw(32)));
    icon.addPixmap(QPixmap::fromImage(Draw(16)));
    return icon;
}
