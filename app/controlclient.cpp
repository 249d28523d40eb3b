#include "app/controlclient.h"

#include "app/controlinterface.h"
#include "presenter/presenterstate.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QRegularExpression>

#include <cstdio>

namespace ControlClient {
namespace {

// A call is answered within milliseconds by a Kavri whose event loop runs; this long is a
// Kavri that hangs.
constexpr int CallTimeoutMs = 5000;

void say(const QString &line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stderr);
}

Status failed(const QDBusMessage &reply)
{
    const QString name = reply.errorName();
    const bool absent = name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
                        name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner") ||
                        name == QLatin1String("org.freedesktop.DBus.Error.Disconnected") ||
                        name == QLatin1String("org.freedesktop.DBus.Error.UnknownObject");
    if (absent) {
        say(QStringLiteral("Kavri is not running"));
        return NotRunning;
    }
    if (name == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
        name == QLatin1String("org.freedesktop.DBus.Error.Timeout")) {
        say(QStringLiteral("Kavri did not answer: %1").arg(reply.errorMessage()));
        return NotRunning;
    }
    say(reply.errorMessage());
    return BadArgument;
}

class Caller
{
public:
    Caller() : m_bus(QDBusConnection::sessionBus()) {}

    bool call(const QString &interface, const QString &method, const QVariantList &arguments,
              QDBusMessage *reply)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(
            ControlInterface::Service, ControlInterface::Path, interface, method);
        message.setArguments(arguments);
        // Only a running Kavri answers: the bus is not to start one.
        message.setAutoStartService(false);
        *reply = m_bus.call(message, QDBus::Block, CallTimeoutMs);
        return reply->type() == QDBusMessage::ReplyMessage;
    }

    Status control(const QString &method, const QVariantList &arguments = {})
    {
        QDBusMessage reply;
        return call(ControlInterface::Interface, method, arguments, &reply) ? Done : failed(reply);
    }

    Status readSize(int *size)
    {
        QDBusMessage reply;
        if (!call(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                  {ControlInterface::Interface, QStringLiteral("Size")}, &reply))
            return failed(reply);
        *size = reply.arguments().value(0).value<QDBusVariant>().variant().toInt();
        return Done;
    }

private:
    QDBusConnection m_bus;
};

} // namespace

bool parseSize(const QString &text, Request &request, QString *error)
{
    static const QRegularExpression form(QStringLiteral("^([+-]?)([0-9]{1,9})$"));
    const QRegularExpressionMatch match = form.match(text);
    const int number = match.hasMatch() ? match.captured(2).toInt() : -1;
    const bool absolute = match.hasMatch() && match.captured(1).isEmpty();
    if (!match.hasMatch() ||
        (absolute && (number < PresenterState::MinSize || number > PresenterState::MaxSize))) {
        *error = QStringLiteral("Bad size \"%1\": +N or -N changes the size by N pixels, a bare "
                                "N from %2 to %3 sets it.")
                     .arg(text)
                     .arg(PresenterState::MinSize)
                     .arg(PresenterState::MaxSize);
        return false;
    }
    request.size = match.captured(1) == QLatin1String("-") ? -number : number;
    request.sizeIsAbsolute = absolute;
    return true;
}

Status send(const Request &request)
{
    if (!ControlInterface::sessionBusAddressKnown()) {
        say(QStringLiteral("Kavri is not running"));
        return NotRunning;
    }
    Caller caller;
    Status status = Done;
    if (request.effect)
        status = caller.control(QStringLiteral("SetEffect"), {*request.effect});
    if (status == Done && request.size) {
        int delta = *request.size;
        if (request.sizeIsAbsolute) {
            int now = 0;
            status = caller.readSize(&now);
            delta -= now;
        }
        if (status == Done)
            status = caller.control(QStringLiteral("ChangeSize"), {delta});
    }
    if (status != Done)
        return status;
    switch (request.visibility) {
    case Request::Visibility::Show:
        return caller.control(QStringLiteral("Show"));
    case Request::Visibility::Hide:
        return caller.control(QStringLiteral("Hide"));
    case Request::Visibility::Toggle:
        return caller.control(QStringLiteral("Toggle"));
    case Request::Visibility::Unchanged:
        break;
    }
    return Done;
}

} // namespace ControlClient
