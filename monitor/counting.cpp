// The counting: every 50 ms the pending serial input is counted as pulses; once a
// second the pulses of the second go into a ring of 60 and the ring's sum, the
// counts per minute, is shown.
#include "monitor/my_serial.h"
#include "monitor/window1.h"
#include "nixie/nixie_canvas.h"

namespace {
constexpr Window1::Integer ringSeconds = 60;
}

void Window1::Timer2_Action(const fw::Ref<fw::Timer>& /*sender*/)
{
    Integer n = 0;
    // Fails only while no port is listed and nothing was chosen yet.
    if (ourSerialPort < serialPopup()->ListCount() - 1 && Serial1) {
        n = fw::Len(Serial1->ReadAll(fw::Encoding::None));
        if (ignoreCountsTimer > 0) {
            // The line settles after opening; what arrives meanwhile is not a pulse.
            --ignoreCountsTimer;
            return;
        }
    }
    tempCountsSum += n;
    if (CheckBoxClicks()->Value())
        PlayClickSound(n);
}

void Window1::Timer1_Action(const fw::Ref<fw::Timer>& /*sender*/)
{
    const bool nixie = CheckBoxNixie()->Value();
    for (Integer i = 0; i < 4; ++i)
        Canvas1(i)->SetVisible(nixie);
    StaticCPM()->SetVisible(!nixie);
    ReadNewCounts();
}

void Window1::ReadNewCounts()
{
    if (!Serial1) {
        StaticStatus()->SetText("No Port Opened");
        return;
    }
    const Integer c = tempCountsSum;
    tempCountsSum = 0;
    counts[static_cast<std::size_t>(secondcountsindex)] = c;
    if (++secondcountsindex > ringSeconds - 1)
        secondcountsindex = 0;
    Integer sum = 0;
    for (Integer i = 0; i < ringSeconds; ++i)
        sum += counts[static_cast<std::size_t>(i)];
    StaticCPM()->SetText(fw::Str(sum));
    SetNixies(sum);
}
