#pragma once
// Window layouts give positions and sizes in twips (1/1440 inch). Qt's logical
// pixels are 96 per inch, so 15 twips make one pixel; Qt applies the real
// screen scaling itself.

#include <QRect>

namespace wendral {

constexpr int kTwipsPerPixel = 15;
int twipsToPixels(int twips);
int pixelsToTwips(int pixels);
QRect twipsRect(int left, int top, int width, int height);

} // namespace wendral
