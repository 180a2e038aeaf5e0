// What the drills on the whole program read off the main window while it runs.
#pragma once

#include "monitor/window1.h"

#include <QEvent>
#include <QObject>

namespace testing_support {

// The pulses the window has counted: the closed seconds of the ring and the open one.
inline fw::Integer Counted(class Window1& w)
{
    fw::Integer sum = w.tempCountsSum;
    for (int i = 0; i < 60; ++i)
        sum += w.counts[static_cast<std::size_t>(i)];
    return sum;
}

// Counts the paints of any widget, once installed on the application.
class PaintWatch : public QObject {
public:
    bool eventFilter(QObject*, QEvent* e) override
    {
        paints += e->type() == QEvent::Paint;
        return false;
    }
    int paints = 0;
};

} // namespace testing_support
