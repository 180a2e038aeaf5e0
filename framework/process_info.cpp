#include "framework/process_info.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>

#include <unistd.h>

namespace fw {

namespace {

const QString login1Service = QStringLiteral("org.freedesktop.login1");
// A live logind answers within milliseconds; a hung one must not freeze the start.
constexpr int callTimeoutMs = 5000;

QString ToQString(const String& s)
{
    return QString::fromUtf8(s.Bytes().data(), static_cast<qsizetype>(s.Bytes().size()));
}

} // namespace

const ClassInfo& NSProcessInfoActivityPlugin::Lookup()
{
    static const ClassInfo& info
        = RegisterClass(ClassBuilder("NSProcessInfoActivityPlugin", &Object::Lookup()).Finalizer().Build());
    return info;
}

NSProcessInfoActivityPlugin::NSProcessInfoActivityPlugin(int inhibitorFd)
    : fd_(inhibitorFd)
{
}

NSProcessInfoActivityPlugin::~NSProcessInfoActivityPlugin()
{
    if (fd_ >= 0)
        ::close(fd_);
}

const ClassInfo& NSProcessInfoPlugin::Lookup()
{
    static const ClassInfo& info
        = RegisterClass(ClassBuilder("NSProcessInfoPlugin", &Object::Lookup())
                            .Op("beginActivity", { "Integer", "String" }, "NSProcessInfoActivityPlugin")
                            .Build());
    return info;
}

Ref<NSProcessInfoPlugin> NSProcessInfoPlugin::processInfo()
{
    // Qt's bus connections need the application object.
    if (!QCoreApplication::instance())
        return nullptr;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected() || !bus.interface())
        return nullptr;
    if (!(bus.connectionCapabilities() & QDBusConnection::UnixFileDescriptorPassing))
        return nullptr;
    if (!bus.interface()->isServiceRegistered(login1Service).value())
        return nullptr;
    return New<NSProcessInfoPlugin>();
}

Ref<NSProcessInfoActivityPlugin> NSProcessInfoPlugin::beginActivity(Integer options, const String& reason)
{
    if (!(options & (ActivityIdleSystemSleepDisabled | ActivityIdleDisplaySleepDisabled)))
        return New<NSProcessInfoActivityPlugin>();
    QDBusMessage call
        = QDBusMessage::createMethodCall(login1Service, QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("idle") << QStringLiteral("Vantrope") << ToQString(reason)
         << QStringLiteral("block");
    const QDBusMessage reply = QDBusConnection::systemBus().call(call, QDBus::Block, callTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage)
        throw RuntimeException("the system refused to stay awake: "
            + (reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage()).toStdString());
    QDBusUnixFileDescriptor fd = reply.arguments().value(0).value<QDBusUnixFileDescriptor>();
    if (!fd.isValid())
        throw RuntimeException("the system's inhibitor came without a file descriptor");
    return New<NSProcessInfoActivityPlugin>(fd.takeFileDescriptor());
}

} // namespace fw
