#pragma once

#include <QRect>

// Dialog units to pixels with fixed base units of 6 x 13 pixels, whatever font is installed:
// one unit is 1.5 pixels across and 1.625 pixels down, rounded half away from zero.
int DialogUnitsToPixelsX(int units);
int DialogUnitsToPixelsY(int units);
QRect DialogUnitsToPixels(int x, int y, int cx, int cy);
