// The window's own icon.
#pragma once

#include <QIcon>

// A 32 x 32 and a 16 x 16 image, drawn in the sixteen colours of the classic palette: a device
// with an arrow bringing new firmware down to it.
QIcon ToolIcon();
