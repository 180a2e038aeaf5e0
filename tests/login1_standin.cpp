// A stand-in for logind's Manager on a private bus, for tests. It answers Inhibit
// with the write end of a pipe, logs every call, and logs "released" once every
// holder of that descriptor has closed it.
//
//   login1_standin BUS-ADDRESS LOG-FILE grant|refuse|late|silent
//
// "late" grants three seconds after the call, "silent" never answers it.
//
// It prints "ready" once it owns org.freedesktop.login1.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QDBusVirtualObject>
#include <QSocketNotifier>
#include <QTimer>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <utility>

namespace {

FILE* logFile = nullptr;

void Log(const QString& line)
{
    std::fprintf(logFile, "%s\n", line.toUtf8().constData());
    std::fflush(logFile);
}

enum class Mode { Grant, Refuse, Late, Silent };

constexpr int lateMs = 3000;

class Manager : public QDBusVirtualObject {
public:
    explicit Manager(Mode mode)
        : mode_(mode)
    {
    }

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.member() != QLatin1String("Inhibit"))
            return false;
        QStringList args;
        for (const QVariant& a : message.arguments())
            args << a.toString();
        Log(QStringLiteral("Inhibit ") + args.join(QLatin1Char('|')));
        switch (mode_) {
        case Mode::Refuse:
            connection.send(
                message.createErrorReply(QDBusError::AccessDenied, QStringLiteral("Permission denied")));
            return true;
        case Mode::Silent:
            return true;
        case Mode::Late:
            QTimer::singleShot(lateMs, this, [this, message, connection] { Grant(message, connection); });
            return true;
        case Mode::Grant:
            break;
        }
        Grant(message, connection);
        return true;
    }

private:
    void Grant(const QDBusMessage& message, const QDBusConnection& connection)
    {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        connection.send(message.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(fds[1]))));
        ::close(fds[1]);
        auto* watch = new QSocketNotifier(fds[0], QSocketNotifier::Read, this);
        QObject::connect(watch, &QSocketNotifier::activated, watch, [watch, fd = fds[0]] {
            char byte;
            if (::read(fd, &byte, 1) <= 0) {
                Log(QStringLiteral("released"));
                watch->setEnabled(false);
            }
        });
    }

    Mode mode_;
};

bool ParseMode(const char* name, Mode& mode)
{
    const std::pair<const char*, Mode> modes[] = { { "grant", Mode::Grant }, { "refuse", Mode::Refuse },
        { "late", Mode::Late }, { "silent", Mode::Silent } };
    for (const auto& [text, value] : modes)
        if (std::strcmp(name, text) == 0) {
            mode = value;
            return true;
        }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    Mode mode = Mode::Grant;
    if (argc != 4 || !ParseMode(argv[3], mode))
        return 2;
    logFile = std::fopen(argv[2], "a");
    if (!logFile)
        return 2;
    QCoreApplication app(argc, argv);
    QDBusConnection bus
        = QDBusConnection::connectToBus(QString::fromUtf8(argv[1]), QStringLiteral("standin"));
    if (!bus.isConnected())
        return 3;
    Manager manager(mode);
    if (!bus.registerVirtualObject(
            QStringLiteral("/org/freedesktop/login1"), &manager, QDBusConnection::SingleNode)
        || !bus.registerService(QStringLiteral("org.freedesktop.login1")))
        return 4;
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
