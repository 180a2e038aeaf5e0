// The whole program, started through the entry point's own path with a
// pseudo-terminal as the system's only port: pulses sent on the line show up as
// counts per minute, as text and on the tubes, and a port change keeps the ring.
#include "app/startup.h"
#include "framework/application.h"
#include "framework/msgbox.h"
#include "monitor/window1.h"
#include "nixie/nixie_canvas.h"
#include "tests/child_process.h"
#include "tests/pty_helper.h"

#include <QApplication>
#include <QImage>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

using testing_support::ChildRun;
using testing_support::Fact;
using testing_support::RunChild;

using testing_support::childArgc;
using testing_support::childArgv;

// Runs `step` `afterMs` milliseconds after the loop starts.
void At(int afterMs, const std::function<void()>& step)
{
    QTimer::singleShot(afterMs, Qt::PreciseTimer, step);
}

std::string Text(const fw::Ref<fw::Label>& label)
{
    return label->Text().ToStdString();
}

std::string Screenshot(const char* name)
{
    const QImage shot = Window1()->Widget()->grab().toImage();
    const std::string path = QCoreApplication::applicationDirPath().toStdString() + "/../" + name;
    shot.save(QString::fromStdString(path));
    return path;
}

// True when the CPM text's pixels all lie inside the label: nothing drawn in the
// band between the label's bottom and the check boxes, and something inside it.
bool TextInsideLabel(const QImage& content, const QRect& label)
{
    const QRgb background = content.pixel(label.right() - 1, label.bottom() + 4);
    auto inked = [&](int x, int y) { return content.pixel(x, y) != background; };
    bool inside = false;
    for (int y = label.top(); y <= label.bottom(); ++y)
        for (int x = label.left(); x <= label.right(); ++x)
            inside = inside || inked(x, y);
    for (int y = label.bottom() + 1; y < 108; ++y)
        for (int x = label.left(); x <= label.right(); ++x)
            if (inked(x, y))
                return false;
    return inside;
}

TEST(Program, CountsThePulsesSentOnTheLineAndShowsThemBothWays)
{
    ChildRun run = RunChild([] {
        setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/vantrope-test-bus", 1);
        fw::RuntimeInit(childArgc, childArgv);
        fw::SetMsgBoxHandler([](const fw::String& text) { Fact("box", text.ToStdString()); });
        static testing_support::Pty pty;
        static testing_support::ScopedPortList ports({ pty.Port() });
        constexpr int sent = 1234;

        At(0, [] {
            auto popup = Window1()->serialPopup();
            Fact("rows",
                std::to_string(popup->ListCount()) + " " + popup->List(0).ToStdString() + " "
                    + popup->List(1).ToStdString());
            popup->SetListIndex(1); // the user's choice of the one port
            Fact("status", Text(Window1()->StaticStatus()));
        });
        // Past the two seconds in which the input is dropped.
        At(2600, [] { pty.Write(std::string(700, 'p')); });
        At(3100, [] { pty.Write(std::string(sent - 700, '\xff')); });
        At(5500, [] {
            auto w = Window1();
            Fact("cpm", Text(w->StaticCPM()));
            const std::string path = Screenshot("window-text.png");
            QImage content = w->Content()->grab().toImage();
            Fact("textInsideLabel", TextInsideLabel(content, QRect(80, 20, 200, 76)) ? "yes" : "no");
            Fact("textShot", path);
            w->CheckBoxNixie()->SetValue(true);
        });
        At(6700, [] {
            auto w = Window1();
            std::string digits, shown;
            for (fw::Integer i = 0; i < 4; ++i) {
                digits += std::to_string(w->Canvas1(i)->value);
                shown += w->Canvas1(i)->Visible() ? "1" : "0";
            }
            Fact("tubes", digits);
            Fact("tubesShown", shown);
            Fact("labelShown", w->StaticCPM()->Visible() ? "yes" : "no");
            const QRect window = w->Content()->rect();
            bool inside = true;
            for (fw::Integer i = 0; i < 4; ++i)
                inside = inside && window.contains(w->Canvas1(i)->Widget()->geometry());
            Fact("tubesInsideWindow", inside ? "yes" : "no");
            Fact("nixieShot", Screenshot("window-nixie.png"));
            w->serialPopup()->SetListIndex(0); // "None"
        });
        At(7900, [] {
            Fact("cpmAfterNone", Text(Window1()->StaticCPM()));
            Fact("statusAfterNone", Text(Window1()->StaticStatus()));
            fw::Quit(0);
        });
        return VantropeMain(childArgc, childArgv);
    });
    ASSERT_TRUE(run.exited) << run.err;
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.Fact("rows").substr(0, 7), "2 None ");
    EXPECT_EQ(run.Fact("status"), "Open");
    EXPECT_EQ(run.Fact("cpm"), "1234");
    EXPECT_EQ(run.Fact("textInsideLabel"), "yes") << run.Fact("textShot");
    EXPECT_EQ(run.Fact("tubes"), "1234");
    EXPECT_EQ(run.Fact("tubesShown"), "1111");
    EXPECT_EQ(run.Fact("labelShown"), "no");
    EXPECT_EQ(run.Fact("tubesInsideWindow"), "yes") << run.Fact("nixieShot");
    EXPECT_EQ(run.Fact("cpmAfterNone"), "1234") << "a port change keeps the ring";
    EXPECT_EQ(run.Fact("statusAfterNone"), "Not Open");
    EXPECT_EQ(run.Fact("box"), "<unset>") << "nothing went wrong on the way";
}

TEST(Program, ClosingTheWindowEndsTheRunWithStatusZero)
{
    ChildRun run = RunChild([] {
        setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/vantrope-test-bus", 1);
        fw::RuntimeInit(childArgc, childArgv);
        At(100, [] { Window1()->Close(); });
        // Without a window the run would otherwise go on until the child's limit.
        At(2100, [] {
            Fact("runningAfterClose", "yes");
            fw::Quit(9);
        });
        const int status = VantropeMain(childArgc, childArgv);
        Fact("ended", "yes");
        return status;
    });
    ASSERT_TRUE(run.exited) << run.err;
    EXPECT_EQ(run.Fact("runningAfterClose"), "<unset>") << "closing the window ended the run";
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.Fact("ended"), "yes");
}

TEST(Program, WithoutADisplayItSaysSoAndExitsWithStatusOne)
{
    ChildRun run = RunChild([] {
        for (const char* name : { "QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY" })
            unsetenv(name);
        return VantropeMain(childArgc, childArgv);
    });
    ASSERT_TRUE(run.exited) << "no crash: " << run.err;
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Vantrope cannot start: no graphical display could be opened."), std::string::npos)
        << run.err;
}

} // namespace
