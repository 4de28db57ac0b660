#pragma once

#include <QIcon>
#include <QImage>
#include <QString>

// Pictures, strings and the version block of the program, looked up by resource id.

QImage LoadBitmapResource(int id);  // null image for an unknown id
QIcon LoadIconResource(int id);     // null icon for an unknown id
// The application icon (icon 128) at `size` pixels square; it needs no application object.
QImage ApplicationIconImage(int size);
QString LoadStringResource(int id);  // empty for an unknown id
