// The port popup, the port choice and the error line, on real pseudo-terminals.
#include "framework/msgbox.h"
#include "tests/child_process.h"
#include "tests/pty_helper.h"
#include "tests/window_fixture.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <grp.h>
#include <memory>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using testing_support::AllByteValues;
using testing_support::MakeWindow;
using testing_support::PortLink;
using testing_support::Pty;
using testing_support::Pump;
using testing_support::PumpUntil;
using testing_support::ScopedControlLines;
using testing_support::ScopedPortList;

namespace {

using Rows = std::vector<std::string>;
const char* const failureText = "Failure to open serial  port!!";

// The popup's events go to the window's handlers, as the layout binds them.
void BindPopup(const fw::Ref<class Window1>& w)
{
    auto popup = w->serialPopup();
    fw::RuntimeAddEventHandler(popup, "Change", fw::RuntimeCreateDelegate(&Window1::serialPopup_Change, w));
    fw::RuntimeAddEventHandler(popup, "Open", fw::RuntimeCreateDelegate(&Window1::serialPopup_Open, w));
}

std::string Text(const fw::Ref<fw::Label>& label)
{
    return label->Text().ToStdString();
}

Rows PopupRows(const fw::Ref<fw::PopupMenu>& popup)
{
    Rows rows;
    for (fw::Integer i = 0; i < popup->ListCount(); ++i)
        rows.push_back(popup->List(i).ToStdString());
    return rows;
}

fw::Ref<fw::SerialPort> PortAt(const std::string& name, const std::string& path)
{
    return fw::New<fw::SerialPort>(fw::String(name), fw::String(path));
}

// What a port choice that fails leaves behind, also as lines for a child process to hand back.
struct Failure {
    Rows boxes;
    std::string statusWhenBoxShown, errorLineWhenBoxShown;
    std::string status, portName, errorLine;
    bool hasSerial = false, serialOpen = true;
    fw::Integer ourSerialPort = 0, ignoreCountsTimer = 0;

    std::string Lines() const
    {
        std::ostringstream out;
        out << boxes.size() << '\n';
        for (const std::string& box : boxes)
            out << box << '\n';
        out << statusWhenBoxShown << '\n'
            << errorLineWhenBoxShown << '\n'
            << status << '\n'
            << portName << '\n'
            << errorLine << '\n'
            << hasSerial << '\n'
            << serialOpen << '\n'
            << ourSerialPort << '\n'
            << ignoreCountsTimer << '\n';
        return out.str();
    }
    static Failure FromLines(std::istream& in)
    {
        Failure f;
        std::string line;
        std::getline(in, line);
        for (int n = std::atoi(line.c_str()); n > 0 && std::getline(in, line); --n)
            f.boxes.push_back(line);
        std::getline(in, f.statusWhenBoxShown);
        std::getline(in, f.errorLineWhenBoxShown);
        std::getline(in, f.status);
        std::getline(in, f.portName);
        std::getline(in, f.errorLine);
        in >> f.hasSerial >> f.serialOpen >> f.ourSerialPort >> f.ignoreCountsTimer;
        return f;
    }
};

// Lists the one port and chooses it, in the given window.
Failure ChooseFailingPort(const fw::Ref<class Window1>& w, const fw::Ref<fw::SerialPort>& port)
{
    ScopedPortList list({ port });
    Failure f;
    fw::MsgBoxHandler previous = fw::SetMsgBoxHandler([&](const fw::String& text) {
        f.boxes.push_back(text.ToStdString());
        f.statusWhenBoxShown = Text(w->StaticStatus());
        f.errorLineWhenBoxShown = Text(w->StaticSerialError());
    });
    w->serialPopup()->RaiseEvent("Open");
    w->StaticStatus()->SetText("before");
    w->StaticPortName()->SetText("before");
    w->ignoreCountsTimer = 7;
    w->serialPopup()->SetListIndex(1);
    fw::SetMsgBoxHandler(previous);
    f.status = Text(w->StaticStatus());
    f.portName = Text(w->StaticPortName());
    f.errorLine = Text(w->StaticSerialError());
    f.hasSerial = bool(w->Serial1);
    f.serialOpen = w->Serial1 && w->Serial1->IsOpen();
    f.ourSerialPort = w->ourSerialPort;
    f.ignoreCountsTimer = w->ignoreCountsTimer;
    w->Serial1 = nullptr;
    return f;
}

// Chooses the port as nobody, in a forked child of this test: root opens any device.
// The child needs nothing it would have to reach on disk: the window is already made.
// None when this root cannot become nobody.
std::optional<Failure> ChooseAsUnprivilegedUser(
    const fw::Ref<class Window1>& w, const fw::Ref<fw::SerialPort>& port)
{
    constexpr int cannotDrop = 126;
    const testing_support::ChildRun run = testing_support::RunChild([&] {
        const gid_t nobody = 65534;
        if (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0)
            return cannotDrop;
        std::fputs(ChooseFailingPort(w, port).Lines().c_str(), stdout);
        return 0;
    });
    if (run.exited && run.status == cannotDrop)
        return std::nullopt;
    EXPECT_TRUE(run.exited && run.status == 0) << "the unprivileged child: " << run.status << "\n" << run.err;
    std::istringstream in(run.out);
    return Failure::FromLines(in);
}

class SerialLink : public ::testing::Test {
protected:
    void SetUp() override
    {
        w = MakeWindow();
        BindPopup(w);
        previousBox
            = fw::SetMsgBoxHandler([this](const fw::String& text) { boxes.push_back(text.ToStdString()); });
    }
    void TearDown() override
    {
        // The window outlives the test in the framework's list: its port goes now.
        w->Serial1 = nullptr;
        fw::SetMsgBoxHandler(previousBox);
    }

    Pty& NewPty() { return *ptys.emplace_back(std::make_unique<Pty>()); }
    fw::Ref<fw::PopupMenu> Popup() { return w->serialPopup(); }
    void BuildList() { Popup()->RaiseEvent("Open"); }
    // The user picks the row in the popup's box, also the row already selected.
    void UserPicks(int row)
    {
        auto* combo = qobject_cast<QComboBox*>(Popup()->Widget());
        ASSERT_TRUE(combo);
        combo->setCurrentIndex(row);
        emit combo->activated(row);
    }
    // One 50 ms tick that finds these bytes waiting.
    void Tick(Pty& pty, const std::string& bytes)
    {
        pty.Write(bytes);
        ASSERT_TRUE(PumpUntil([&] { return w->Serial1->LookAhead().Bytes().size() == bytes.size(); }));
        w->Timer2_Action(nullptr);
        EXPECT_EQ(w->Serial1->LookAhead().Bytes(), "") << "a tick takes all the input";
    }
    void ExpectNoPortChosen()
    {
        ASSERT_TRUE(w->Serial1);
        EXPECT_FALSE(w->Serial1->IsOpen());
        EXPECT_EQ(Text(w->StaticPortName()), "Port Name: ");
        EXPECT_EQ(Text(w->StaticStatus()), "Not Open");
        EXPECT_EQ(Text(w->StaticSerialError()), "");
    }
    void ExpectOpen(const std::string& name)
    {
        ASSERT_TRUE(w->Serial1);
        EXPECT_TRUE(w->Serial1->IsOpen());
        EXPECT_EQ(Text(w->StaticStatus()), "Open");
        EXPECT_EQ(Text(w->StaticPortName()), "Port Name: " + name);
        // A pty has no DTR and RTS lines; with a USB adapter the line reads "Serial Port Error: None".
        EXPECT_EQ(Text(w->StaticSerialError()), "Serial Port Error: 105 ");
        EXPECT_EQ(w->ignoreCountsTimer, 40);
    }

    std::vector<std::unique_ptr<Pty>> ptys; // outlive the window's serial object
    ScopedPortList list;
    fw::Ref<class Window1> w;
    Rows boxes;
    fw::MsgBoxHandler previousBox;
};

// ---- The list -----------------------------------------------------------------

TEST_F(SerialLink, ListsNoneThenTheSystemsPortsAndStartsWithNoPortChosen)
{
    Pty& a = NewPty();
    Pty& b = NewPty();
    struct Case {
        const char* label;
        std::vector<fw::Ref<fw::SerialPort>> ports;
        Rows rows;
    };
    for (const Case& c : { Case { "no ports", {}, { "None" } },
             Case { "two ports", { a.Port(), b.Port() }, { "None", a.Name(), b.Name() } } }) {
        SCOPED_TRACE(c.label);
        list.Set(c.ports);
        list.asked = 0;
        w->Serial1 = nullptr;
        w->StaticStatus()->SetText("Not Open");
        BuildList();
        EXPECT_EQ(PopupRows(Popup()), c.rows);
        EXPECT_EQ(list.asked, static_cast<int>(2 * c.ports.size() + 1)) << "asked anew before every row";
        // Selecting "None" while the list is built is a Change: the window has an unopened serial object.
        EXPECT_EQ(Popup()->ListIndex(), 0);
        EXPECT_EQ(w->ourSerialPort, -1);
        ExpectNoPortChosen();

        w->Timer2_Action(nullptr);
        w->Timer1_Action(nullptr);
        EXPECT_EQ(Text(w->StaticStatus()), "Not Open") << "\"No Port Opened\" never shows";
        EXPECT_EQ(Text(w->StaticCPM()), "0");
        EXPECT_EQ(w->tempCountsSum, 0);
    }
    EXPECT_EQ(boxes, Rows {});
}

TEST_F(SerialLink, NoRowSelectedIsHandledLikeNone)
{
    Pty& pty = NewPty();
    list.Set({ pty.Port() });
    BuildList();
    Popup()->SetListIndex(1);
    ASSERT_TRUE(w->Serial1->IsOpen());
    Popup()->DeleteAllRows(); // the selection goes: a Change with row -1
    EXPECT_EQ(w->ourSerialPort, -2);
    ExpectNoPortChosen();
}

TEST_F(SerialLink, ARowOpensThePortItNamesWhereverTheSystemListsItNow)
{
    Pty& a = NewPty();
    Pty& b = NewPty();
    Pty& c = NewPty();
    struct Case {
        const char* label;
        std::vector<Pty*> listedNow;
        int row;
        Pty* opens; // none: the port is gone, and the choice fails
    };
    for (const Case& k : {
             Case { "another port listed first: a's row", { &c, &a, &b }, 1, &a },
             Case { "another port listed first: b's row", { &c, &a, &b }, 2, &b },
             Case { "a unplugged: a's row", { &b }, 1, nullptr },
             Case { "a unplugged: b's row", { &b }, 2, &b },
             Case { "no port left: a's row", {}, 1, nullptr },
             Case { "no port left: b's row", {}, 2, nullptr },
         }) {
        SCOPED_TRACE(k.label);
        list.Set({ a.Port(), b.Port() });
        BuildList();
        std::vector<fw::Ref<fw::SerialPort>> now;
        for (Pty* p : k.listedNow)
            now.push_back(p->Port());
        list.Set(now);
        boxes.clear();
        w->StaticSerialError()->SetText("before");

        Popup()->SetListIndex(k.row);
        EXPECT_EQ(w->ourSerialPort, k.row - 1);
        for (Pty* p : { &a, &b, &c })
            EXPECT_EQ(p->OpenDescriptors(), p == k.opens ? 2 : 1) << "only the named device is opened";
        if (k.opens) {
            ExpectOpen(k.opens->Name());
            EXPECT_EQ(boxes, Rows {});
        } else {
            EXPECT_EQ(boxes, Rows { failureText });
            EXPECT_EQ(Text(w->StaticSerialError()), "Serial Port Error: 101 Port Not Found");
            EXPECT_EQ(Text(w->StaticStatus()), "Not Open");
            EXPECT_EQ(Text(w->StaticPortName()), "Port Name: ");
        }
        Popup()->SetListIndex(0);
    }
}

TEST_F(SerialLink, APortThatGoesWhileTheListIsBuiltIsLeftOutAndTheOthersWork)
{
    Pty& a = NewPty();
    Pty& b = NewPty();
    // Two ports when the count is asked, one when the second port is asked for.
    int asked = 0;
    fw::SerialPortProvider previous = fw::SetSerialPortProvider([&] {
        ++asked;
        return asked <= 3 ? std::vector { a.Port(), b.Port() } : std::vector { b.Port() };
    });
    BuildList();
    fw::SetSerialPortProvider(previous);
    EXPECT_EQ(PopupRows(Popup()), (Rows { "None", a.Name() }));

    list.Set({ a.Port() });
    Popup()->SetListIndex(1);
    ExpectOpen(a.Name());
}

// ---- Opening and counting -----------------------------------------------------

TEST_F(SerialLink, OpeningAPtySetsTheCountersLineUp)
{
    Pty& pty = NewPty();
    list.Set({ pty.Port() });
    BuildList();
    Popup()->SetListIndex(1);

    EXPECT_EQ(boxes, Rows {});
    EXPECT_EQ(w->ourSerialPort, 0);
    ExpectOpen(pty.Name());
    const termios t = pty.Attributes();
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B57600));
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B57600));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
}

// On a port with DTR and RTS nothing overwrites the line the opening writes.
TEST_F(SerialLink, OpeningAPortWithControlLinesRaisesDtrAndRtsAndTheErrorLineSaysNone)
{
    ScopedControlLines lines;
    Pty& pty = NewPty();
    list.Set({ pty.Port() });
    BuildList();
    Popup()->SetListIndex(1);

    EXPECT_EQ(lines.calls,
        (std::vector<ScopedControlLines::Call> {
            { fw::ControlLine::DataTerminalReady, true }, { fw::ControlLine::RequestToSend, true } }));
    EXPECT_EQ(Text(w->StaticSerialError()), "Serial Port Error: None");
    EXPECT_EQ(Text(w->StaticStatus()), "Open");
    EXPECT_EQ(Text(w->StaticPortName()), "Port Name: " + pty.Name());
    EXPECT_EQ(w->ignoreCountsTimer, 40);
    EXPECT_EQ(pty.Speed(), 57600);
    EXPECT_EQ(pty.Attributes().c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(boxes, Rows {});
}

TEST_F(SerialLink, CountsEveryByteAfterTheFortyDroppedTicks)
{
    Pty& pty = NewPty();
    list.Set({ pty.Port() });
    BuildList();
    Popup()->SetListIndex(1);
    ASSERT_EQ(w->ignoreCountsTimer, 40);

    for (int tick = 1; tick <= 40; ++tick)
        Tick(pty, tick % 4 == 0 ? std::string() : std::string("drop"));
    EXPECT_EQ(w->ignoreCountsTimer, 0);
    EXPECT_EQ(w->tempCountsSum, 0) << "the line settles: nothing of the first two seconds counts";

    fw::Integer total = 0;
    for (const std::string& bytes :
        { AllByteValues(1), std::string(), AllByteValues(4), std::string("\n") }) {
        Tick(pty, bytes);
        total += static_cast<fw::Integer>(bytes.size());
        EXPECT_EQ(w->tempCountsSum, total) << "one pulse per byte, whatever its value";
    }
    w->Timer1_Action(nullptr);
    EXPECT_EQ(Text(w->StaticCPM()), "1281");
}

// ---- Failing to open ----------------------------------------------------------

struct FailureCase {
    const char* label;
    enum { MissingPath, NotASerialDevice, NotPermitted } kind;
    std::string errorLine;
    friend void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.label; }
};

class SerialLinkFailure : public SerialLink, public ::testing::WithParamInterface<FailureCase> { };

TEST_P(SerialLinkFailure, ShowsTheBoxThenNotOpenAndTheErrorLineSaysWhy)
{
    const FailureCase& c = GetParam();
    Failure f;
    switch (c.kind) {
    case FailureCase::MissingPath:
        f = ChooseFailingPort(w, PortAt("ttyGONE0", "/nonexistent/ttyGONE-link-test"));
        break;
    case FailureCase::NotASerialDevice: {
        char file[] = "/tmp/vantrope-file-XXXXXX";
        const int fd = mkstemp(file);
        ASSERT_GE(fd, 0);
        close(fd);
        f = ChooseFailingPort(w, PortAt("file", file));
        unlink(file);
        break;
    }
    case FailureCase::NotPermitted: {
        Pty& pty = NewPty();
        if (geteuid() == 0) {
            ASSERT_EQ(chmod(pty.Path().c_str(), 0600), 0);
            const std::optional<Failure> asNobody = ChooseAsUnprivilegedUser(w, pty.Port());
            if (!asNobody)
                GTEST_SKIP() << "root opens any device, and this root cannot become nobody (uid 65534)";
            f = *asNobody;
        } else {
            ASSERT_EQ(chmod(pty.Path().c_str(), 0), 0);
            f = ChooseFailingPort(w, pty.Port());
        }
        break;
    }
    }
    EXPECT_EQ(f.boxes, Rows { failureText });
    EXPECT_EQ(f.errorLineWhenBoxShown, c.errorLine) << "the failed opening reported why before the box";
    EXPECT_EQ(f.statusWhenBoxShown, "before") << "the labels change after the box is dismissed";
    EXPECT_EQ(f.status, "Not Open");
    EXPECT_EQ(f.portName, "Port Name: ");
    EXPECT_EQ(f.errorLine, c.errorLine);
    EXPECT_TRUE(f.hasSerial) << "the unopened object stays the window's";
    EXPECT_FALSE(f.serialOpen);
    EXPECT_EQ(f.ourSerialPort, 0);
    EXPECT_EQ(f.ignoreCountsTimer, 7) << "only an opening starts the ignore window";
}

INSTANTIATE_TEST_SUITE_P(Cases, SerialLinkFailure,
    ::testing::Values(
        FailureCase { "MissingPath", FailureCase::MissingPath, "Serial Port Error: 101 Port Not Found" },
        FailureCase { "NotASerialDevice", FailureCase::NotASerialDevice, "Serial Port Error: 105 " },
        FailureCase { "NotPermitted", FailureCase::NotPermitted, "Serial Port Error: 100 Access Denied" }),
    [](const auto& row) { return std::string(row.param.label); });

// ---- Choosing again -------------------------------------------------------------

TEST_F(SerialLink, NoneWhileAPortIsOpenReleasesItAndKeepsTheCounts)
{
    Pty& pty = NewPty();
    list.Set({ pty.Port() });
    BuildList();
    Popup()->SetListIndex(1);
    std::weak_ptr<fw::Object> open = w->Serial1.shared();
    w->tempCountsSum = 3;
    w->Timer1_Action(nullptr);

    Popup()->SetListIndex(0);
    EXPECT_NE(w->Serial1.get(), nullptr);
    EXPECT_TRUE(open.expired()) << "the window let the open object go";
    EXPECT_EQ(w->ourSerialPort, -1);
    ExpectNoPortChosen();
    EXPECT_EQ(w->ignoreCountsTimer, 40);
    EXPECT_EQ(Text(w->StaticCPM()), "3");
    EXPECT_EQ(w->counts[0], 3);

    EXPECT_EQ(pty.OpenDescriptors(), 1) << "releasing the object closed its port";
    auto other = fw::New<fw::Serial>();
    other->SetSerialPort(pty.Port());
    EXPECT_TRUE(other->Open()) << "and removed its lock";
}

TEST_F(SerialLink, PickingTheOpenPortAgainOpensItAnew)
{
    Pty& pty = NewPty();
    list.Set({ pty.Port() });
    BuildList();
    UserPicks(1);
    ExpectOpen(pty.Name());
    std::weak_ptr<fw::Object> first = w->Serial1.shared();
    w->ignoreCountsTimer = 0;

    UserPicks(1);
    EXPECT_TRUE(first.expired());
    ExpectOpen(pty.Name());
    EXPECT_EQ(pty.OpenDescriptors(), 2);
    EXPECT_EQ(boxes, Rows {});
}

// A pointer passing over the popup turns no port; keys still choose, as Qt has them.
TEST_F(SerialLink, AWheelTurnOverTheClosedPopupChangesNothingAndTheKeysStillChoose)
{
    Pty& a = NewPty();
    Pty& b = NewPty();
    list.Set({ a.Port(), b.Port() });
    BuildList();
    UserPicks(1);
    ExpectOpen(a.Name());
    w->ignoreCountsTimer = 0;
    const MySerial* counting = w->Serial1.get();
    auto* combo = qobject_cast<QComboBox*>(Popup()->Widget());
    ASSERT_TRUE(combo);

    for (int notch : { 120, -120, -120 }) {
        const QPointF at(5, 5);
        QWheelEvent wheel(at, combo->mapToGlobal(at), QPoint(), QPoint(0, notch), Qt::NoButton,
            Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(combo, &wheel);
    }
    EXPECT_EQ(w->Serial1.get(), counting) << "no new serial object";
    EXPECT_EQ(w->ignoreCountsTimer, 0) << "nothing thrown away";
    EXPECT_EQ(b.OpenDescriptors(), 1) << "the other device was never opened";
    EXPECT_EQ(Popup()->ListIndex(), 1);
    EXPECT_EQ(combo->currentIndex(), 1);
    EXPECT_TRUE(w->Serial1->IsOpen());

    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QApplication::sendEvent(combo, &down);
    EXPECT_EQ(Popup()->ListIndex(), 2);
    ExpectOpen(b.Name());
}

TEST_F(SerialLink, AFarEndThatClosesIsReportedOnceThenThePortOpensAgainOnceBack)
{
    PortLink link("ttyVT0");
    Pty& first = NewPty();
    link.PointTo(first.Path());
    list.Set({ PortAt("ttyVT0", link.Path()) });
    BuildList();
    UserPicks(1);
    ExpectOpen("ttyVT0");

    first.CloseMaster();
    ASSERT_TRUE(PumpUntil([&] { return Text(w->StaticSerialError()) == "Serial Port Error: 106 "; }));
    w->StaticSerialError()->SetText("seen");
    Pump(300);
    EXPECT_EQ(Text(w->StaticSerialError()), "seen") << "reported once";
    EXPECT_EQ(Text(w->StaticStatus()), "Not Open") << "the layer closed the port";
    EXPECT_EQ(Text(w->StaticPortName()), "Port Name: ttyVT0");
    EXPECT_EQ(first.OpenDescriptors(), 1) << "the dead descriptor is closed: nothing keeps the loop busy";
    w->ignoreCountsTimer = 0;
    w->Timer2_Action(nullptr);
    EXPECT_EQ(w->tempCountsSum, 0);

    Pty& second = NewPty();
    link.PointTo(second.Path());
    UserPicks(1);
    ExpectOpen("ttyVT0");
    w->ignoreCountsTimer = 0;
    Tick(second, "back");
    EXPECT_EQ(w->tempCountsSum, 4);
    EXPECT_EQ(boxes, Rows {});
}

// ---- The error line ---------------------------------------------------------------

TEST_F(SerialLink, TheErrorLineGivesTheCodeAndItsText)
{
    struct CodeSerial : MySerial {
        void Raise(fw::Integer code) { ReportError(code); }
    };
    struct Case {
        fw::Integer code;
        const char* line;
    };
    auto serial = fw::New<CodeSerial>(); // not the window's own: the handler does not ask
    w->StaticStatus()->SetText("Open");
    for (const Case& c :
        { Case { 0, "Serial Port Error: 0 None" }, Case { 100, "Serial Port Error: 100 Access Denied" },
            Case { 101, "Serial Port Error: 101 Port Not Found" },
            Case { 102, "Serial Port Error: 102 Invalid Options" },
            Case { 103, "Serial Port Error: 103 Break Condition" },
            Case { 104, "Serial Port Error: 104 Framing Error" }, Case { 105, "Serial Port Error: 105 " },
            Case { -1, "Serial Port Error: -1 " } }) {
        serial->Raise(c.code);
        EXPECT_EQ(Text(w->StaticSerialError()), c.line) << c.code;
    }
    EXPECT_EQ(Text(w->StaticStatus()), "Open");
    EXPECT_EQ(boxes, Rows {});
}

} // namespace
