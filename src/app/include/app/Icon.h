// The window's own icon.
#pragma once

#include <QIcon>
#include <QList>
#include <QRgb>

// A 32 x 32 and a 16 x 16 image, drawn in the sixteen colours of the classic palette: a device
// with an arrow bringing new firmware down to it.
QIcon ToolIcon();

// The sixteen colours, in the order of the classic palette; every opaque pixel of the icon's
// images is one of them, every other pixel fully transparent.
const QList<QRgb>& ToolIconPalette();
