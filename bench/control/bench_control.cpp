// The cost of each command for the running Kavri (kavri --show and the others): the time
// from starting the command until it has exited with its answer, as a desktop shortcut waits
// for it. A Kavri runs on the offscreen platform with the virtual presenter unplugged, on a
// private session bus; each command runs many times, and the median and the slowest run are
// printed, beside one bare D-Bus call of the same method for comparison.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int Runs = 30;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void stop(QProcess &process)
{
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString address = QStringLiteral("unix:path=%1/bus").arg(dir.path());
    QFile config(dir.filePath(QStringLiteral("bus.conf")));
    if (!dir.isValid() || !config.open(QIODevice::WriteOnly))
        return 1;
    config.write("<busconfig><type>session</type><listen>" + address.toUtf8() +
                 "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                 "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                 "<allow own=\"*\"/></policy></busconfig>\n");
    config.close();
    QProcess bus;
    bus.start(QStringLiteral("dbus-daemon"),
              {QStringLiteral("--nofork"), QStringLiteral("--config-file=") + config.fileName()});
    for (int i = 0; i < 100 && !QFile::exists(dir.filePath(QStringLiteral("bus"))); ++i)
        QThread::msleep(50);

    // The commands run as from a desktop shortcut: the session's bus and nothing else.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
    QProcessEnvironment kavriEnv = env;
    kavriEnv.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    kavriEnv.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    kavriEnv.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(KAVRI_VDONGLE_LIBRARY));
    kavriEnv.insert(QStringLiteral("KAVRI_VDONGLE"), dir.filePath(QStringLiteral("vdongle")));
    kavriEnv.insert(QStringLiteral("KAVRI_VDONGLE_START"), QStringLiteral("unplugged"));
    QProcess kavri;
    kavri.setProcessEnvironment(kavriEnv);
    kavri.setWorkingDirectory(dir.path());
    kavri.start(QStringLiteral(KAVRI_PROGRAM), QStringList());

    QDBusConnection connection = QDBusConnection::connectToBus(address, QStringLiteral("bench"));
    bool up = false;
    for (int i = 0; i < 200 && !up; ++i) {
        up = connection.interface()->isServiceRegistered(QStringLiteral("org.kavri.Kavri"));
        if (!up)
            QThread::msleep(50);
    }
    int status = 0;
    if (!up) {
        std::fprintf(stderr, "Kavri did not offer its control interface\n");
        status = 1;
    } else {
        std::printf("%d runs each, on a private session bus; Kavri offscreen, no dongle\n", Runs);
        std::printf("%-26s %10s %10s\n", "command", "median ms", "max ms");
        const QList<QStringList> commands = {
            {"--effect", "spotlight"}, {"--show"},        {"--hide"},      {"--toggle"},
            {"--size", "+10"},         {"--size", "-10"}, {"--size", "60"}};
        for (const QStringList &arguments : commands) {
            std::vector<double> times;
            for (int i = 0; i < Runs; ++i) {
                QProcess command;
                command.setProcessEnvironment(env);
                command.setProcessChannelMode(QProcess::ForwardedChannels);
                QElapsedTimer timer;
                timer.start();
                command.start(QStringLiteral(KAVRI_PROGRAM), arguments);
                command.waitForFinished(10000);
                times.push_back(timer.nsecsElapsed() / 1e6);
                if (command.exitCode() != 0)
                    status = 1;
            }
            std::printf("kavri %-20s %10.1f %10.1f\n", qPrintable(arguments.join(' ')),
                        median(times), *std::max_element(times.begin(), times.end()));
        }
        std::vector<double> calls;
        for (int i = 0; i < Runs; ++i) {
            QElapsedTimer timer;
            timer.start();
            connection.call(QDBusMessage::createMethodCall(
                QStringLiteral("org.kavri.Kavri"), QStringLiteral("/org/kavri/Kavri"),
                QStringLiteral("org.kavri.Kavri"), QStringLiteral("Toggle")));
            calls.push_back(timer.nsecsElapsed() / 1e6);
        }
        std::printf("%-26s %10.2f %10.2f\n", "D-Bus call Toggle alone", median(calls),
                    *std::max_element(calls.begin(), calls.end()));
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("bench"));
    stop(kavri);
    stop(bus);
    return status;
}
