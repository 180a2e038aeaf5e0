// Spreads a counts-per-minute value over the four tubes.
#include "monitor/window1.h"
#include "nixie/nixie_canvas.h"

void Window1::SetNixies(Integer /*count*/)
{
    // pending: the Nixie issue spreads the count over the tubes.
}
