// A stand-in for logind's Manager on a private bus, for tests. It answers Inhibit
// with the write end of a pipe, logs every call, and logs "released" once every
// holder of that descriptor has closed it.
//
//   login1_standin BUS-ADDRESS LOG-FILE grant|refuse
//
// It prints "ready" once it owns org.freedesktop.login1.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QDBusVirtualObject>
#include <QSocketNotifier>

#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

FILE* logFile = nullptr;

void Log(const QString& line)
{
    std::fprintf(logFile, "%s\n", line.toUtf8().constData());
    std::fflush(logFile);
}

class Manager : public QDBusVirtualObject {
public:
    explicit Manager(bool refuse)
        : refuse_(refuse)
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
        if (refuse_) {
            connection.send(
                message.createErrorReply(QDBusError::AccessDenied, QStringLiteral("Permission denied")));
            return true;
        }
        int fds[2];
        if (::pipe(fds) != 0)
            return false;
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
        return true;
    }

private:
    bool refuse_;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4)
        return 2;
    logFile = std::fopen(argv[2], "a");
    if (!logFile)
        return 2;
    QCoreApplication app(argc, argv);
    QDBusConnection bus
        = QDBusConnection::connectToBus(QString::fromUtf8(argv[1]), QStringLiteral("standin"));
    if (!bus.isConnected())
        return 3;
    Manager manager(std::strcmp(argv[3], "refuse") == 0);
    if (!bus.registerVirtualObject(
            QStringLiteral("/org/freedesktop/login1"), &manager, QDBusConnection::SingleNode)
        || !bus.registerService(QStringLiteral("org.freedesktop.login1")))
        return 4;
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
