// The tubes' benchmark: the whole program, started through its own entry point
// (offscreen, with no serial port), first in text mode and then with the tubes
// shown. It prints the peak RSS of each phase, and what one tube's repaint at an
// unchanged size costs, through its widget and as the bare DrawPicture call.
//
//   tube_paint [--repaints N]
#include "app/startup.h"
#include "framework/application.h"
#include "framework/drawing.h"
#include "framework/serial.h"
#include "monitor/window1.h"
#include "nixie/nixie_canvas.h"

#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QTimer>
#include <QWidget>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Us = std::chrono::duration<double, std::micro>;

// The kernel's VmHWM, which sums its per-CPU page counts; getrusage's ru_maxrss
// reads them without the sum and was seen to lag it by up to 300 KiB here, more
// than the tubes may add.
double PeakRssMb()
{
    if (std::FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        long kib = -1;
        while (kib < 0 && std::fgets(line, sizeof line, status))
            if (std::strncmp(line, "VmHWM:", 6) == 0)
                kib = std::strtol(line + 6, nullptr, 10);
        std::fclose(status);
        if (kib >= 0)
            return static_cast<double>(kib) / 1024.0;
    }
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// A second of the program's life at the line's rate: a new count shown, and the
// window painted as the event loop would paint it.
void ShowCount(class Window1& w, fw::Integer count)
{
    w.StaticCPM()->SetText(fw::Str(count));
    w.SetNixies(count);
    QCoreApplication::processEvents();
}

struct Figures {
    double textRssMb = 0, tubesRssMb = 0;
    double repaintUs = 0, drawUs = 0, openUs = 0, firstDrawUs = 0;
    bool drewTubes = false;
};

Figures Measure(int repaints)
{
    Figures f;
    auto w = Window1();
    // Every digit and the unlit tube, so that each of the eleven cells is drawn.
    const std::vector<fw::Integer> counts { 0, 1234, 5678, 9012, 3456, 7890, 12, 345 };

    w->CheckBoxNixie()->SetValue(false);
    w->Timer1_Action(nullptr);
    for (fw::Integer c : counts)
        ShowCount(*w, c);
    f.textRssMb = PeakRssMb();

    w->CheckBoxNixie()->SetValue(true);
    w->CheckBoxBlankLeadingZeros()->SetValue(true);
    w->Timer1_Action(nullptr);
    for (fw::Integer c : counts)
        ShowCount(*w, c);
    f.tubesRssMb = PeakRssMb();
    f.drewTubes = bool(nixies()) && w->Canvas1(0)->Widget()->isVisible();

    // At an unchanged size and value: what each second costs once the digits are known.
    const Clock::time_point repaintStart = Clock::now();
    for (int i = 0; i < repaints; ++i)
        for (fw::Integer t = 0; t < 4; ++t)
            w->Canvas1(t)->Widget()->repaint();
    f.repaintUs = Us(Clock::now() - repaintStart).count() / (4.0 * repaints);

    const fw::Ref<fw::Picture> picture = nixies();
    if (picture) {
        QImage cell(50, 82, QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&cell);
        fw::Graphics g(&painter, 50, 82);
        const Clock::time_point drawStart = Clock::now();
        for (int i = 0; i < repaints; ++i)
            g.DrawPicture(picture, 0, 0, 50, 82, 336 * (i % 11), 0, 336, 549);
        f.drawUs = Us(Clock::now() - drawStart).count() / repaints;
    }
    f.tubesRssMb = PeakRssMb();

    // Once the peak is read: a picture of its own, to time what a cell costs the first time.
    const Clock::time_point openStart = Clock::now();
    const fw::Ref<fw::Picture> fresh = fw::Picture::OpenFromApp("nixies.jpg");
    f.openUs = Us(Clock::now() - openStart).count();
    if (fresh) {
        QImage cell(50, 82, QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&cell);
        fw::Graphics g(&painter, 50, 82);
        const Clock::time_point firstStart = Clock::now();
        for (int c = 0; c < 11; ++c)
            g.DrawPicture(fresh, 0, 0, 50, 82, 336 * c, 0, 336, 549);
        f.firstDrawUs = Us(Clock::now() - firstStart).count() / 11;
    }
    return f;
}

char programName[] = "vantrope";
char* programArgv[] = { programName, nullptr };
int programArgc = 1;

} // namespace

int main(int argc, char** argv)
{
    int repaints = 2000;
    if (argc == 3 && std::string(argv[1]) == "--repaints")
        repaints = std::atoi(argv[2]);
    if (argc != 1 && !(argc == 3 && repaints > 0)) {
        std::fprintf(stderr, "usage: %s [--repaints N]\n", argv[0]);
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    fw::RuntimeInit(programArgc, programArgv);
    // No port: the tubes are the whole subject.
    fw::SetSerialPortProvider([] { return std::vector<fw::Ref<fw::SerialPort>>(); });

    Figures figures;
    std::string failure;
    QTimer::singleShot(0, [&] {
        try {
            figures = Measure(repaints);
            if (!figures.drewTubes)
                failure = "the tubes were not shown with their picture";
        } catch (const std::exception& e) {
            failure = e.what();
        }
        fw::Quit(0);
    });
    const int status = VantropeMain(programArgc, programArgv);
    fw::SetSerialPortProvider({});
    if (!failure.empty() || status != 0) {
        std::fprintf(stderr, "tube_paint: %s (exit status %d)\n", failure.c_str(), status);
        return 1;
    }
    std::printf("| %-44s | %-10s |\n", "figure", "value");
    std::printf("|%s|%s|\n", std::string(46, '-').c_str(), std::string(12, '-').c_str());
    auto row = [](const char* figure, const char* format, double v) {
        char text[32];
        std::snprintf(text, sizeof text, format, v);
        std::printf("| %-44s | %-10s |\n", figure, text);
    };
    row("peak RSS, text mode (MiB)", "%.1f", figures.textRssMb);
    row("peak RSS, tubes shown (MiB)", "%.1f", figures.tubesRssMb);
    row("added by the tubes (MiB)", "%.2f", figures.tubesRssMb - figures.textRssMb);
    row("one tube's repaint, unchanged size (us)", "%.1f", figures.repaintUs);
    row("one DrawPicture of a cell (us)", "%.2f", figures.drawUs);
    row("opening the digit picture (us)", "%.0f", figures.openUs);
    row("a cell's first DrawPicture (us)", "%.0f", figures.firstDrawUs);
    std::printf("tube_paint: text_rss_mb=%.1f tubes_rss_mb=%.1f added_mb=%.2f repaint_us=%.1f draw_us=%.2f "
                "open_us=%.0f first_draw_us=%.0f\n",
        figures.textRssMb, figures.tubesRssMb, figures.tubesRssMb - figures.textRssMb, figures.repaintUs,
        figures.drawUs, figures.openUs, figures.firstDrawUs);
    return 0;
}
