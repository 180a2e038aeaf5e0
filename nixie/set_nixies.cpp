// Spreads a counts-per-minute value over the four tubes.
#include "monitor/window1.h"
#include "nixie/nixie_canvas.h"

#include <algorithm>
#include <array>

namespace {

constexpr Window1::Integer blankTube = 10;
// Four tubes cannot show more; a higher count shows full scale rather than its last digits.
constexpr Window1::Integer fullScale = 9999;

} // namespace

void Window1::SetNixies(Integer count)
{
    const Integer shown = std::min(count, fullScale);
    std::array<Integer, 4> digits { shown / 1000, shown % 1000 / 100, shown % 100 / 10, shown % 10 };
    if (CheckBoxBlankLeadingZeros()->Value()) {
        // The units tube always shows a digit; a zero after a non-zero digit stays.
        for (std::size_t i = 0; i < 3 && digits[i] == 0; ++i)
            digits[i] = blankTube;
    }
    // Every tube holds its new digit before any of them is asked to repaint.
    for (Integer i = 0; i < 4; ++i)
        Canvas1(i)->value = digits[static_cast<std::size_t>(i)];
    for (Integer i = 0; i < 4; ++i)
        Canvas1(i)->Invalidate(true);
}
