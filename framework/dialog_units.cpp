#include "framework/dialog_units.h"

namespace {

constexpr int kBaseUnitX = 6;
constexpr int kBaseUnitY = 13;

// number * numerator / denominator, rounded half away from zero.
int MulDiv(int number, int numerator, int denominator) {
  const long long product = static_cast<long long>(number) * numerator;
  const long long half = denominator / 2;
  return static_cast<int>(product >= 0 ? (product + half) / denominator : -((-product + half) / denominator));
}

}  // namespace

int DialogUnitsToPixelsX(int units) { return MulDiv(units, kBaseUnitX, 4); }
int DialogUnitsToPixelsY(int units) { return MulDiv(units, kBaseUnitY, 8); }

QRect DialogUnitsToPixels(int x, int y, int cx, int cy) {
  // Position and size are converted each on its own, as the platform's dialog manager does:
  // a list 333 units wide is 500 pixels wide wherever it stands.
  return QRect(DialogUnitsToPixelsX(x), DialogUnitsToPixelsY(y), DialogUnitsToPixelsX(cx), DialogUnitsToPixelsY(cy));
}
