#include "app/commandline.h"

#include "app/controlclient.h"
#include "app/controlinterface.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace CommandLine {
namespace {

int badArgument(const QString &message)
{
    std::fputs(qPrintable(QStringLiteral("kavri: %1\n").arg(message)), stderr);
    return ControlClient::BadArgument;
}

} // namespace

int answer(int &argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Kavri, the desktop companion of a wireless presenter: spotlight, laser "
                       "dot, magnifier and black screen over the screen, steered by the "
                       "presenter's keys.\n"
                       "The options --effect, --size, --show, --hide and --toggle steer the "
                       "Kavri running in this session, with or without the presenter, and end: "
                       "status 0 when done, 1 when no Kavri runs, 2 for a bad argument.\n"
                       "Qt's own options, such as -platform, are accepted too."));
    // Qt's options are single-dash words (-platform, -reverse, -stylesheet): read as letters
    // they would spell -v or -h.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption effect(
        QStringLiteral("effect"),
        QStringLiteral("Chooses the effect, as a mode button does: %1.")
            .arg(ControlInterface::allowedEffects()),
        QStringLiteral("name"));
    const QCommandLineOption size(QStringLiteral("size"),
                                  QStringLiteral("+N or -N changes the chosen effect's size by N "
                                                 "pixels; N sets it (10 to 200)."),
                                  QStringLiteral("size"));
    const QCommandLineOption show(QStringLiteral("show"),
                                  QStringLiteral("Shows the effect, as holding the effect key "
                                                 "does, until it is hidden."));
    const QCommandLineOption hide(QStringLiteral("hide"),
                                  QStringLiteral("Hides the effect, as letting go of the key "
                                                 "does."));
    const QCommandLineOption toggle(QStringLiteral("toggle"),
                                    QStringLiteral("Shows the effect when hidden, hides it when "
                                                   "shown."));
    parser.addOptions({effect, size, show, hide, toggle});
    // Options this parser does not know belong to Qt; whether they are right is Qt's to say.
    // Any other error is one of ours: a value missing after --effect or --size.
    if (!parser.parse(arguments) && parser.unknownOptionNames().isEmpty())
        return badArgument(parser.errorText());
    const bool helpAll = parser.isSet(QStringLiteral("help-all"));
    const bool asked = parser.isSet(help) || helpAll || parser.isSet(version);
    const bool commanded = parser.isSet(effect) || parser.isSet(size) || parser.isSet(show) ||
                           parser.isSet(hide) || parser.isSet(toggle);
    if (!asked && !commanded)
        return -1;

    // The help text names the program from the application object's arguments; the bus
    // wants the object too.
    QCoreApplication app(argc, argv);
    if (asked) {
        QCoreApplication::setApplicationVersion(QStringLiteral(KAVRI_VERSION));
        const QString text = parser.isSet(version)
                                 ? QCoreApplication::applicationName() + QLatin1Char(' ') +
                                       QCoreApplication::applicationVersion() + QLatin1Char('\n')
                                 : parser.helpText();
        std::fputs(text.toLocal8Bit().constData(), stdout);
        return 0;
    }

    // Every argument is checked before the first call goes out.
    ControlClient::Request request;
    if (parser.isSet(effect)) {
        const QString name = parser.value(effect);
        if (!ControlInterface::effectOf(name))
            return badArgument(QStringLiteral("Unknown effect \"%1\": the effect is one of %2.")
                                   .arg(name, ControlInterface::allowedEffects()));
        request.effect = name;
    }
    QString error;
    if (parser.isSet(size) && !ControlClient::parseSize(parser.value(size), request, &error))
        return badArgument(error);
    if (int(parser.isSet(show)) + int(parser.isSet(hide)) + int(parser.isSet(toggle)) > 1)
        return badArgument(QStringLiteral("--show, --hide and --toggle exclude each other."));
    if (parser.isSet(show))
        request.visibility = ControlClient::Request::Visibility::Show;
    else if (parser.isSet(hide))
        request.visibility = ControlClient::Request::Visibility::Hide;
    else if (parser.isSet(toggle))
        request.visibility = ControlClient::Request::Visibility::Toggle;
    return ControlClient::send(request);
}

} // namespace CommandLine
