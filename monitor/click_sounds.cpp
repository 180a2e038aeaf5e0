#include "monitor/click_sounds.h"

#include "monitor/window1.h"

void Window1::PlayClickSound(Integer /*count*/)
{
    // pending: the click-sounds issue plays the sound the count selects.
}
