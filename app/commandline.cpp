#include "app/commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace CommandLine {

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
                       "Qt's own options, such as -platform, are accepted too."));
    // Qt's options are single-dash words (-platform, -reverse, -stylesheet): read as letters
    // they would spell -v or -h.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    // Options this parser does not know belong to Qt; whether they are right is Qt's to say.
    parser.parse(arguments);
    const bool helpAll = parser.isSet(QStringLiteral("help-all"));
    if (!parser.isSet(help) && !helpAll && !parser.isSet(version))
        return -1;

    // The help text names the program from the application object's arguments.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(KAVRI_VERSION));
    const QString text = parser.isSet(version)
                             ? QCoreApplication::applicationName() + QLatin1Char(' ') +
                                   QCoreApplication::applicationVersion() + QLatin1Char('\n')
                             : parser.helpText();
    std::fputs(text.toLocal8Bit().constData(), stdout);
    return 0;
}

} // namespace CommandLine
