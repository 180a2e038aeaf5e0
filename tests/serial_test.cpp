// The serial layer on real pseudo-terminals: opening, line settings, reading,
// errors and the system's port list.
#include "framework/serial.h"
#include "framework/serial_lock.h"
#include "tests/pty_helper.h"

#include <QSerialPortInfo>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

using testing_support::AllByteValues;
using testing_support::Pty;
using testing_support::Pump;
using testing_support::PumpUntil;
using testing_support::ScopedControlLines;
using testing_support::ScopedPortList;

namespace {

// Records the code of every Error event it raises.
class RecordingSerial : public fw::Serial {
    FW_OBJECT(RecordingSerial)
public:
    std::vector<fw::Integer> errors;
};

} // namespace

const fw::ClassInfo& RecordingSerial::Lookup()
{
    static const fw::ClassInfo& info
        = fw::RegisterClass(fw::ClassBuilder("RecordingSerial", &fw::Serial::Lookup())
                                .Factory<RecordingSerial>()
                                .Hook("Error",
                                    [](fw::Object& o, fw::EventArgs&) {
                                        auto& serial = static_cast<RecordingSerial&>(o);
                                        serial.errors.push_back(serial.LastErrorCode());
                                    })
                                .Build());
    return info;
}

namespace {

using Codes = std::vector<fw::Integer>;

fw::Ref<RecordingSerial> OpenOn(const Pty& pty)
{
    auto serial = fw::New<RecordingSerial>();
    serial->SetSerialPort(pty.Port());
    EXPECT_TRUE(serial->Open());
    return serial;
}

std::string Bytes(const fw::String& s)
{
    return s.Bytes();
}

// ---- Opening ----------------------------------------------------------------

TEST(SerialOpen, OpensAPtyWithTheSettingsOfANewConnection)
{
    Pty pty;
    auto serial = OpenOn(pty);
    EXPECT_TRUE(serial->IsOpen());
    EXPECT_EQ(serial->errors, Codes {}) << "the NoError that Qt signals on opening is no error";
    EXPECT_EQ(serial->LastErrorCode(), fw::Serial::NoError);

    const termios t = pty.Attributes();
    EXPECT_EQ(pty.Speed(), 9600);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & PARENB, 0u);
    EXPECT_EQ(t.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(t.c_lflag & ICANON, 0u) << "raw: every byte is passed on as it comes";
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);

    EXPECT_TRUE(serial->Open()) << "opening an open connection changes nothing";
    EXPECT_EQ(serial->errors, Codes {});
}

TEST(SerialOpen, AppliesSettingsMadeBeforeTheOpening)
{
    Pty pty;
    auto serial = fw::New<RecordingSerial>();
    serial->SetBaud(fw::Serial::Baud57600);
    serial->SetBits(fw::Serial::Bits8);
    serial->SetSerialPort(pty.Port());
    ASSERT_TRUE(serial->Open());
    EXPECT_EQ(pty.Speed(), 57600);
    EXPECT_EQ(pty.Attributes().c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(serial->errors, Codes {});
}

struct OpenFailure {
    const char* label;
    std::string path; // empty: no port set
    fw::Integer code;
    friend void PrintTo(const OpenFailure& c, std::ostream* os) { *os << c.label; }
};

class SerialOpenFails : public ::testing::TestWithParam<OpenFailure> { };

TEST_P(SerialOpenFails, RaisesErrorWithItsCodeAndGivesFalse)
{
    const OpenFailure& c = GetParam();
    // Each path of its own: the device lock is taken before the opening fails.
    std::string path = c.path;
    std::string file, dir;
    if (path == "<regular file>") {
        char name[] = "/tmp/vantrope-file-XXXXXX";
        const int fd = mkstemp(name);
        ASSERT_GE(fd, 0);
        ::close(fd);
        path = file = name;
    } else if (path == "<directory>") {
        char name[] = "/tmp/vantrope-dir-XXXXXX";
        ASSERT_TRUE(mkdtemp(name));
        path = dir = name;
    }
    auto serial = fw::New<RecordingSerial>();
    if (!path.empty())
        serial->SetSerialPort(fw::New<fw::SerialPort>(fw::String("port"), fw::String(path)));
    EXPECT_FALSE(serial->Open());
    EXPECT_FALSE(serial->IsOpen());
    EXPECT_EQ(serial->errors, Codes { c.code }) << "one event, raised before Open returned";
    EXPECT_EQ(serial->LastErrorCode(), c.code);
    EXPECT_EQ(Bytes(serial->ReadAll()), "") << "reading an unopened connection is no failure";
    if (!file.empty())
        ::unlink(file.c_str());
    if (!dir.empty())
        ::rmdir(dir.c_str());
}

INSTANTIATE_TEST_SUITE_P(Cases, SerialOpenFails,
    ::testing::Values(OpenFailure { "NoPortSet", "", fw::Serial::PortNotFound },
        OpenFailure { "MissingPath", "/nonexistent/ttyGONE-serial-test", fw::Serial::PortNotFound },
        OpenFailure { "RegularFile", "<regular file>", fw::Serial::UnsupportedOperation },
        OpenFailure { "Directory", "<directory>", fw::Serial::OtherError },
        OpenFailure { "DevNull", "/dev/null", fw::Serial::UnsupportedOperation }),
    [](const auto& row) { return std::string(row.param.label); });

TEST(SerialOpen, ADeviceHeldByAnotherConnectionIsDeniedUntilThatOneIsReleased)
{
    Pty pty;
    auto first = OpenOn(pty);
    auto second = fw::New<RecordingSerial>();
    second->SetSerialPort(pty.Port());
    EXPECT_FALSE(second->Open());
    EXPECT_EQ(second->errors, Codes { fw::Serial::AccessDenied });

    first = nullptr; // the last reference: closes the port and removes its lock
    EXPECT_EQ(pty.OpenDescriptors(), 1) << "only the test's own descriptor is left";
    EXPECT_TRUE(second->Open());
}

// ---- Lock files ----------------------------------------------------------------

// A process of the test's own that holds a lock: alive until the object goes, or
// already gone (waited for, so its ID names no process).
class Holder {
public:
    explicit Holder(bool alive)
    {
        id_ = pid_ = ::fork();
        if (pid_ == 0) {
            if (alive)
                ::pause();
            ::_exit(0);
        }
        if (!alive)
            Reap();
    }
    ~Holder()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            Reap();
        }
    }
    pid_t Pid() const { return id_; }

private:
    void Reap() { ::waitpid(std::exchange(pid_, -1), nullptr, 0); }
    pid_t pid_ = -1;
    pid_t id_ = -1;
};

// A lock's bytes as the programs that write each form write it.
std::string LockBytes(const std::string& form, pid_t pid)
{
    char text[64];
    if (form == "Qt")
        return std::to_string(pid) + "\nsomeapp\nsomehost\n3d1219c7c4c5404aaa1f6d2a48adfda4\nboot\n";
    if (form == "minicom")
        std::snprintf(text, sizeof text, "%10ld minicom someone\n", static_cast<long>(pid));
    else if (form == "plain UUCP")
        std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
    else {
        const std::int32_t binary = pid;
        return std::string(reinterpret_cast<const char*>(&binary), sizeof binary);
    }
    return text;
}

std::string FileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void PutFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST(SerialLock, ALockIsItsHoldersWhileItsProcessLivesInEveryFormAndIsTakenOverOnceItIsGone)
{
    for (const char* form : { "Qt", "minicom", "plain UUCP", "binary UUCP" }) {
        for (const bool alive : { true, false }) {
            SCOPED_TRACE(std::string(form) + (alive ? ", holder alive" : ", holder gone"));
            Pty pty;
            const std::string lock = fw::serial_lock::PathFor(pty.Path());
            ASSERT_FALSE(lock.empty());
            Holder holder(alive);
            const std::string theirs = LockBytes(form, holder.Pid());
            PutFile(lock, theirs);

            auto serial = fw::New<RecordingSerial>();
            serial->SetSerialPort(pty.Port());
            EXPECT_EQ(serial->Open(), !alive);
            if (alive) {
                EXPECT_EQ(serial->errors, Codes { fw::Serial::AccessDenied });
                EXPECT_EQ(pty.OpenDescriptors(), 1) << "the device was not opened";
                serial = nullptr;
                EXPECT_EQ(FileBytes(lock), theirs) << "their lock is left byte for byte";
            } else {
                EXPECT_EQ(serial->errors, Codes {});
                const std::string ours = FileBytes(lock);
                EXPECT_EQ(ours.substr(0, ours.find('\n')), std::to_string(::getpid()));
                serial = nullptr;
                EXPECT_FALSE(std::filesystem::exists(lock)) << "closing removed the lock taken over";
            }
            std::filesystem::remove(lock);
        }
    }
}

TEST(SerialLock, WhatLiesInTheLocksPlaceWithoutBeingALockIsLeftAsItIsAndTheOpeningDenied)
{
    Holder gone(false);
    const std::string deadLock = LockBytes("plain UUCP", gone.Pid());
    char folder[] = "/tmp/vantrope-lock-XXXXXX";
    ASSERT_TRUE(::mkdtemp(folder));
    const std::string target = std::string(folder) + "/target";
    struct Case {
        const char* label;
        std::function<void(const std::string&)> make;
        std::function<bool(const std::string&)> leftAsItWas;
    };
    const std::string huge = deadLock + std::string((1 << 20) - deadLock.size(), ' ');
    for (const Case& c : {
             Case { "a FIFO", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); },
                 [](const std::string& p) {
                     struct stat st { };
                     return ::lstat(p.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
                 } },
             Case { "a symbolic link to a gone holder's lock",
                 [&](const std::string& p) {
                     PutFile(target, deadLock);
                     ASSERT_EQ(::symlink(target.c_str(), p.c_str()), 0);
                 },
                 [&](const std::string& p) {
                     return std::filesystem::is_symlink(p) && FileBytes(target) == deadLock;
                 } },
             Case { "a directory", [](const std::string& p) { ASSERT_EQ(::mkdir(p.c_str(), 0755), 0); },
                 [](const std::string& p) { return std::filesystem::is_directory(p); } },
             Case { "a 1 MiB file that begins like a gone holder's lock",
                 [&](const std::string& p) { PutFile(p, huge); },
                 [&](const std::string& p) { return FileBytes(p) == huge; } },
             Case { "an empty file", [](const std::string& p) { PutFile(p, ""); },
                 [](const std::string& p) {
                     return std::filesystem::is_regular_file(p) && FileBytes(p).empty();
                 } },
         }) {
        SCOPED_TRACE(c.label);
        Pty pty;
        const std::string lock = fw::serial_lock::PathFor(pty.Path());
        c.make(lock);
        auto serial = fw::New<RecordingSerial>();
        serial->SetSerialPort(pty.Port());
        EXPECT_FALSE(serial->Open());
        EXPECT_EQ(serial->errors, Codes { fw::Serial::AccessDenied });
        serial = nullptr;
        EXPECT_TRUE(c.leftAsItWas(lock));
        std::filesystem::remove_all(lock);
    }
    std::filesystem::remove_all(folder);
}

// ---- Line settings ----------------------------------------------------------

class SerialBaud : public ::testing::TestWithParam<std::pair<fw::Integer, long>> { };

TEST_P(SerialBaud, SetsTheDeviceSpeed)
{
    const auto [code, rate] = GetParam();
    Pty pty;
    auto serial = OpenOn(pty);
    serial->SetBaud(code);
    EXPECT_EQ(serial->Baud(), code);
    EXPECT_EQ(fw::Serial::BitsPerSecond(code), rate);
    EXPECT_EQ(pty.Speed(), rate);
    EXPECT_EQ(serial->errors, Codes {});
}

INSTANTIATE_TEST_SUITE_P(Codes, SerialBaud,
    ::testing::Values(std::pair { 0, 300L }, std::pair { 1, 600L }, std::pair { 2, 1200L },
        std::pair { 3, 1800L }, std::pair { 4, 2400L }, std::pair { 5, 3600L }, std::pair { 6, 4800L },
        std::pair { 7, 7200L }, std::pair { 8, 9600L }, std::pair { 9, 14400L }, std::pair { 10, 19200L },
        std::pair { 11, 28800L }, std::pair { 12, 38400L }, std::pair { 13, 57600L },
        std::pair { 14, 115200L }, std::pair { 15, 230400L }),
    [](const auto& row) { return "Code" + std::to_string(row.param.first); });

TEST(SerialSettings, CodesOutsideTheTablesAreInvalidOptionsAndChangeNothing)
{
    Pty pty;
    auto serial = OpenOn(pty);
    serial->SetBaud(fw::Serial::Baud57600);
    struct Case {
        const char* label;
        void (fw::Serial::*set)(fw::Integer);
        fw::Integer code;
    };
    for (const Case& c :
        { Case { "Baud -1", &fw::Serial::SetBaud, -1 }, Case { "Baud 16", &fw::Serial::SetBaud, 16 },
            Case { "Bits -1", &fw::Serial::SetBits, -1 }, Case { "Bits 4", &fw::Serial::SetBits, 4 } }) {
        serial->errors.clear();
        ((*serial).*c.set)(c.code);
        EXPECT_EQ(serial->errors, Codes { fw::Serial::InvalidOptions }) << c.label;
    }
    EXPECT_EQ(serial->Baud(), fw::Serial::Baud57600);
    EXPECT_EQ(serial->Bits(), fw::Serial::Bits8);
    EXPECT_EQ(pty.Speed(), 57600);
    EXPECT_TRUE(serial->IsOpen());
}

TEST(SerialSettings, ControlLinesAPtyCannotTakeAreReportedOnceEachAndTheLineGoesOn)
{
    Pty pty;
    auto serial = OpenOn(pty);
    serial->SetDataTerminalReady(true);
    EXPECT_EQ(serial->errors, Codes { fw::Serial::UnsupportedOperation }) << "Qt signals it twice: one event";
    serial->SetRequestToSend(true);
    EXPECT_EQ(serial->errors, (Codes { fw::Serial::UnsupportedOperation, fw::Serial::UnsupportedOperation }));
    EXPECT_TRUE(serial->DataTerminalReady());
    EXPECT_TRUE(serial->RequestToSend());
    EXPECT_TRUE(serial->IsOpen());

    pty.Write("pulse");
    ASSERT_TRUE(PumpUntil([&] { return serial->LookAhead().Bytes().size() == 5; }));
    EXPECT_EQ(Bytes(serial->ReadAll()), "pulse");
    EXPECT_EQ(serial->errors.size(), 2u);
}

TEST(SerialSettings, ARecorderTakesTheControlLinesOfAnOpenConnectionOnly)
{
    using Calls = std::vector<ScopedControlLines::Call>;
    ScopedControlLines lines;
    Pty pty;
    auto serial = fw::New<RecordingSerial>();
    serial->SetDataTerminalReady(true);
    serial->SetRequestToSend(false);
    EXPECT_EQ(lines.calls, Calls {}) << "an unopened connection keeps them for the opening";
    serial->SetSerialPort(pty.Port());
    ASSERT_TRUE(serial->Open());
    serial->SetRequestToSend(true);
    EXPECT_EQ(lines.calls,
        (Calls { { fw::ControlLine::DataTerminalReady, true }, { fw::ControlLine::RequestToSend, false },
            { fw::ControlLine::RequestToSend, true } }));
    EXPECT_EQ(serial->errors, Codes {});
}

// ---- Reading ----------------------------------------------------------------

TEST(SerialRead, GivesEveryByteValueOnceBufferedBetweenReads)
{
    Pty pty;
    auto serial = OpenOn(pty);
    EXPECT_EQ(Bytes(serial->ReadAll()), "");

    const std::string sent = AllByteValues(4);
    for (std::size_t at = 0; at < sent.size(); at += 100) {
        pty.Write(sent.substr(at, 100));
        Pump(1); // the loop turns between the reads, as it does in the program
    }
    ASSERT_TRUE(PumpUntil([&] { return serial->LookAhead().Bytes().size() >= sent.size(); }));
    EXPECT_EQ(Bytes(serial->LookAhead()), sent) << "a look leaves the bytes in place";
    const fw::String read = serial->ReadAll();
    EXPECT_EQ(read.GetEncoding(), fw::Encoding::None);
    EXPECT_EQ(fw::Len(read), static_cast<std::int64_t>(sent.size()));
    EXPECT_EQ(Bytes(read), sent);
    EXPECT_EQ(Bytes(serial->ReadAll()), "") << "what was read is gone";
    EXPECT_EQ(serial->errors, Codes {});
}

TEST(SerialRead, BytesWaitInTheDeviceUntilTheProgramReadsThem)
{
    Pty pty;
    auto serial = OpenOn(pty);
    pty.Write(std::string(100, 'p'));
    Pump(100); // a layer that took bytes as they arrive would have them by now
    EXPECT_EQ(pty.Pending(), 100);
    EXPECT_EQ(Bytes(serial->ReadAll()), std::string(100, 'p'));
    EXPECT_EQ(pty.Pending(), 0);
    EXPECT_EQ(serial->errors, Codes {});
}

TEST(SerialRead, ABacklogIsTakenAsItArrivesUntilAReadFindsTheLineBackToItsPace)
{
    Pty pty;
    auto serial = OpenOn(pty);
    // Nearly a tty's whole input buffer between two reads: the next burst could overrun it.
    const std::string backlog = AllByteValues(15);
    pty.Write(backlog);
    ASSERT_TRUE(PumpUntil([&] { return pty.Pending() == static_cast<int>(backlog.size()); }));
    EXPECT_EQ(Bytes(serial->ReadAll()), backlog);

    pty.Write("burst");
    Pump(100);
    EXPECT_EQ(pty.Pending(), 0) << "taken from the device as it came";
    EXPECT_EQ(Bytes(serial->ReadAll()), "burst");

    pty.Write("calm");
    Pump(100);
    EXPECT_EQ(pty.Pending(), 4) << "a read that found little stops the watching";
    EXPECT_EQ(Bytes(serial->ReadAll()), "calm");
    EXPECT_EQ(serial->errors, Codes {});
}

TEST(SerialRead, ResetDiscardsPendingInputAndKeepsTheLineOpen)
{
    Pty pty;
    auto serial = OpenOn(pty);
    serial->SetBaud(fw::Serial::Baud57600);
    pty.Write("stale");
    ASSERT_TRUE(PumpUntil([&] { return serial->LookAhead().Bytes().size() == 5; }));
    serial->Reset();
    EXPECT_EQ(Bytes(serial->ReadAll()), "");
    EXPECT_TRUE(serial->IsOpen());
    EXPECT_EQ(pty.Speed(), 57600) << "the settings stay";

    pty.Write("fresh");
    ASSERT_TRUE(PumpUntil([&] { return serial->LookAhead().Bytes().size() == 5; }));
    EXPECT_EQ(Bytes(serial->ReadAll()), "fresh");
    EXPECT_EQ(serial->errors, Codes {});
}

TEST(SerialRead, APortWhoseFarEndClosesIsReportedOnceAndClosed)
{
    Pty pty;
    auto serial = OpenOn(pty);
    EXPECT_EQ(pty.OpenDescriptors(), 2);
    pty.Write("abc");
    ASSERT_TRUE(PumpUntil([&] { return serial->LookAhead().Bytes().size() == 3; }));

    pty.CloseMaster();
    ASSERT_TRUE(PumpUntil([&] { return !serial->errors.empty(); }));
    Pump(300); // Qt would flood the loop with read errors here if the port stayed open
    EXPECT_EQ(serial->errors, Codes { fw::Serial::PortLost });
    EXPECT_FALSE(serial->IsOpen());
    EXPECT_EQ(pty.OpenDescriptors(), 1) << "the dead descriptor is closed";
    EXPECT_EQ(Bytes(serial->ReadAll()), "abc") << "what arrived before the loss still counts";
    EXPECT_EQ(Bytes(serial->ReadAll()), "");

    Pty back;
    serial->SetSerialPort(back.Port());
    EXPECT_TRUE(serial->Open());
    back.Write("x");
    ASSERT_TRUE(PumpUntil([&] { return serial->LookAhead().Bytes().size() == 1; }));
    EXPECT_EQ(Bytes(serial->ReadAll()), "x");
    EXPECT_EQ(serial->errors, Codes { fw::Serial::PortLost });
}

TEST(SerialRead, ALossFoundByAReadIsReportedInsideItOnceAndKeepsWhatWasTaken)
{
    Pty pty;
    auto serial = OpenOn(pty);
    pty.Write("abc");
    ASSERT_TRUE(PumpUntil([&] { return serial->LookAhead().Bytes().size() == 3; }));

    pty.CloseMaster();
    EXPECT_EQ(Bytes(serial->ReadAll()), "abc");
    EXPECT_EQ(serial->errors, Codes { fw::Serial::PortLost }) << "reported before the read returned";
    EXPECT_FALSE(serial->IsOpen());
    EXPECT_EQ(pty.OpenDescriptors(), 1);
    Pump(300);
    EXPECT_EQ(serial->errors, Codes { fw::Serial::PortLost }) << "and not again from the loop";
    EXPECT_EQ(Bytes(serial->ReadAll()), "");
}

TEST(SerialRead, AnErrorHandlerMayReleaseTheLastReference)
{
    Pty pty;
    auto serial = OpenOn(pty);
    std::weak_ptr<fw::Object> watch = serial.shared();
    fw::Ref<RecordingSerial>* holder = &serial;
    fw::RuntimeAddEventHandler(
        serial, "Error", fw::Delegate { "", [holder](const fw::Ref<fw::Object>&) { *holder = nullptr; } });
    pty.CloseMaster();
    ASSERT_TRUE(PumpUntil([&] { return watch.expired(); }));
    EXPECT_EQ(pty.OpenDescriptors(), 1);
}

// ---- The system's ports -----------------------------------------------------

TEST(SystemPorts, ComeFromTheSystemWithoutASeam)
{
    const QList<QSerialPortInfo> system = QSerialPortInfo::availablePorts();
    ASSERT_EQ(fw::System()->SerialPortCount(), system.size());
    for (int i = 0; i < system.size(); ++i) {
        fw::Ref<fw::SerialPort> port = fw::System()->SerialPort(i);
        ASSERT_TRUE(port);
        EXPECT_EQ(port->Name().ToStdString(), system[i].portName().toStdString());
        EXPECT_EQ(port->Path().ToStdString(), system[i].systemLocation().toStdString());
    }
    EXPECT_FALSE(fw::System()->SerialPort(system.size()));
}

TEST(SystemPorts, AreAskedAnewAtEveryCall)
{
    Pty a, b;
    ScopedPortList list({ a.Port(), b.Port() });
    EXPECT_EQ(fw::System()->SerialPortCount(), 2);
    EXPECT_EQ(fw::System()->SerialPort(1)->Name().ToStdString(), b.Name());
    EXPECT_EQ(fw::System()->SerialPort(1)->Path().ToStdString(), b.Path());
    EXPECT_FALSE(fw::System()->SerialPort(2));
    EXPECT_FALSE(fw::System()->SerialPort(-1));
    EXPECT_EQ(list.asked, 5);

    list.Set({ b.Port() });
    EXPECT_EQ(fw::System()->SerialPortCount(), 1);
    EXPECT_EQ(fw::System()->SerialPort(0)->Name().ToStdString(), b.Name());
    list.Set({});
    EXPECT_EQ(fw::System()->SerialPortCount(), 0);
}

} // namespace
