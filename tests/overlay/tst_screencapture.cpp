#include "overlay/capture/capturechain.h"
#include "overlay/capture/captureprobe.h"
#include "overlay/capture/castplacement.h"
#include "overlay/capture/framepicture.h"
#include "overlay/capture/kwinscreenshotcapture.h"
#include "overlay/capture/mutterscreencastcapture.h"
#include "overlay/capture/portalscreenshotcapture.h"
#include "overlay/capture/screenshotfile.h"
#include "overlay/wayland/windowplacement.h"

#include "common/childprocess.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QPainter>
#include <QRandomGenerator>
#include <QtTest>

#include <chrono>
#include <fcntl.h>
#include <future>
#include <memory>
#include <signal.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
// A route that answers every request, later, the way its script says.
class ScriptedRoute final : public ScreenCapture
{
public:
    enum Outcome { Picture, Passing, Lasting };
    ScriptedRoute(QString name, Outcome outcome, QColor colour, QStringList *log)
        : m_name(std::move(name)), m_outcome(outcome), m_colour(colour), m_log(log)
    {
    }
    QString name() const override { return m_name; }
    void capture(QScreen *screen) override
    {
        *m_log << QStringLiteral("%1:%2").arg(m_name, screen ? screen->name() : QString());
        QTimer::singleShot(0, this, [this, screen] {
            if (m_outcome == Picture) {
                QPixmap picture(4, 4);
                picture.fill(m_colour);
                emit captured(screen, picture);
            } else {
                emit failed(m_name + QStringLiteral(" failed"), m_outcome == Lasting);
            }
        });
    }

private:
    QString m_name;
    Outcome m_outcome;
    QColor m_colour;
    QStringList *m_log;
};

using Script = QList<int>;

// The desktop portal's Screenshot interface on a private bus. It answers the way a portal
// does: Response on the request object named after the caller and its token, here sent
// before the method's reply, which only a caller subscribed beforehand receives.
class FakePortal final : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Screenshot")

public:
    uint response = 0;
    bool silent = false; // never answers, as GNOME's portal without gnome-shell
    QString file;
    QVariantMap options;

public slots:
    QDBusObjectPath Screenshot(const QString &, const QVariantMap &given)
    {
        options = given;
        QString sender = message().service().mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                                 .arg(sender, given.value("handle_token").toString());
        QDBusMessage answer =
            QDBusMessage::createSignal(path, "org.freedesktop.portal.Request", "Response");
        QVariantMap results;
        if (response == 0)
            results.insert("uri", QUrl::fromLocalFile(file).toString());
        answer << response << results;
        if (!silent)
            connection().send(answer);
        return QDBusObjectPath(path);
    }
};

// KWin's ScreenShot2 interface, as far as the route calls it: it answers with the picture's
// layout, then writes the pixels into the pipe from a thread of its own, as KWin does.
class FakeKWin final : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.KWin.ScreenShot2")

public:
    ~FakeKWin() override { joinWriters(); }
    QStringList calls;
    QString screenName; // the one output KWin knows by name; none when empty
    QString error;      // the error it answers with, if any
    bool silent = false;
    QImage picture;        // what it sends for the screen and for the workspace
    int moreBytes = 0;     // sent beyond the announced size (negative: fewer)
    QVariantMap overrides; // results announced otherwise than the picture is

    void reset(const QImage &sent, const QString &name)
    {
        calls.clear();
        error.clear();
        silent = false;
        moreBytes = 0;
        overrides.clear();
        picture = sent;
        screenName = name;
    }
    void joinWriters()
    {
        for (std::thread &t : m_writers)
            t.join();
        m_writers.clear();
    }

public slots:
    QVariantMap CaptureScreen(const QString &name, const QVariantMap &options,
                              const QDBusUnixFileDescriptor &pipe)
    {
        calls << QStringLiteral("CaptureScreen(%1)").arg(name);
        if (error.isEmpty() && name != screenName) {
            sendErrorReply("org.kde.KWin.ScreenShot2.Error.InvalidScreen",
                           "Invalid screen requested");
            return {};
        }
        return answer(options, pipe);
    }
    QVariantMap CaptureWorkspace(const QVariantMap &options, const QDBusUnixFileDescriptor &pipe)
    {
        calls << "CaptureWorkspace";
        return answer(options, pipe);
    }

private:
    QVariantMap answer(const QVariantMap &options, const QDBusUnixFileDescriptor &pipe)
    {
        if (!options.value("native-resolution").toBool())
            calls << "not in device pixels";
        if (!error.isEmpty()) {
            sendErrorReply(error, "refused");
            return {};
        }
        setDelayedReply(true);
        if (silent)
            return {};
        QVariantMap results{{"type", "raw"},
                            {"format", quint32(picture.format())},
                            {"width", quint32(picture.width())},
                            {"height", quint32(picture.height())},
                            {"stride", quint32(picture.bytesPerLine())},
                            {"scale", 1.0}};
        for (auto it = overrides.cbegin(); it != overrides.cend(); ++it)
            results.insert(it.key(), it.value());
        connection().send(message().createReply(results));
        QByteArray bytes(reinterpret_cast<const char *>(picture.constBits()),
                         int(picture.sizeInBytes()));
        bytes.resize(bytes.size() + moreBytes);
        m_writers.emplace_back([fd = ::dup(pipe.fileDescriptor()), bytes] {
            // A pipe whose reader has gone answers with EPIPE, not with the signal.
            sigset_t pipeSignal;
            sigemptyset(&pipeSignal);
            sigaddset(&pipeSignal, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
            for (qsizetype done = 0; done < bytes.size();) {
                const ssize_t n =
                    ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
                if (n <= 0)
                    break;
                done += n;
            }
            ::close(fd);
        });
        return {};
    }

    std::vector<std::thread> m_writers;
};

// The process's peak resident memory, in bytes (VmHWM).
qint64 peakMemory()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return -1;
}

// Starts counting the peak anew from the memory in use now, and returns that.
qint64 resetPeakMemory()
{
    QFile clear("/proc/self/clear_refs");
    if (clear.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        clear.write("5");
    clear.close();
    return peakMemory();
}

// A 3 x 2 frame: red, green, blue over white, black, grey, in the given byte order, with
// `pad` bytes after each row and `alpha` in the fourth byte.
QByteArray frameBytes(FramePicture::PixelLayout layout, int pad, bool bottomUp, uchar alpha)
{
    const QList<QList<QRgb>> rows{{qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255)},
                                  {qRgb(255, 255, 255), qRgb(0, 0, 0), qRgb(128, 64, 32)}};
    const bool redFirst =
        layout == FramePicture::PixelLayout::RGBx || layout == FramePicture::PixelLayout::RGBA;
    QByteArray bytes;
    for (int i = 0; i < rows.size(); ++i) {
        for (QRgb c : rows.at(bottomUp ? rows.size() - 1 - i : i)) {
            bytes.append(char(redFirst ? qRed(c) : qBlue(c)));
            bytes.append(char(qGreen(c)));
            bytes.append(char(redFirst ? qBlue(c) : qRed(c)));
            bytes.append(char(alpha));
        }
        bytes.append(QByteArray(pad, char(0x55)));
    }
    return bytes;
}
// GNOME's screen cast service, as far as the route's calls go: monitors are known by the
// empty connector only, and Start announces a PipeWire node when `announce` is set.
class FakeScreenCastSession final : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.Mutter.ScreenCast.Session")

public:
    QStringList calls;
    bool announce = true;

public slots:
    QDBusObjectPath RecordMonitor(const QString &connector, const QVariantMap &properties)
    {
        calls << QStringLiteral("RecordMonitor(%1, cursor-mode %2)")
                     .arg(connector, properties.value("cursor-mode").toString());
        if (!connector.isEmpty())
            sendErrorReply(QDBusError::Failed, "Unknown monitor");
        return QDBusObjectPath("/org/gnome/Mutter/ScreenCast/Stream/u1");
    }
    void Start()
    {
        calls << "Start";
        if (!announce)
            return;
        QDBusMessage added =
            QDBusMessage::createSignal("/org/gnome/Mutter/ScreenCast/Stream/u1",
                                       "org.gnome.Mutter.ScreenCast.Stream", "PipeWireStreamAdded");
        added << 4242u;
        connection().send(added);
    }
    void Stop() { calls << "Stop"; }
};

class FakeScreenCast final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.Mutter.ScreenCast")

public:
    QStringList *calls = nullptr;

public slots:
    QDBusObjectPath CreateSession(const QVariantMap &)
    {
        *calls << "CreateSession";
        return QDBusObjectPath("/org/gnome/Mutter/ScreenCast/Session/u1");
    }
};
} // namespace

Q_DECLARE_METATYPE(FramePicture::PixelLayout)
Q_DECLARE_METATYPE(QVariantMap)

// The capture routes' own logic without a compositor: the chain's fallback between routes,
// the conversion of stream frames and desktop pictures into a screen's picture, which of
// the portal's files may be deleted, and the order of routes for what a session offers.
class TestScreenCapture : public QObject
{
    Q_OBJECT

    QTemporaryDir m_runtime;
    QProcess m_bus;
    FakePortal m_portal;
    FakeScreenCast m_screenCast;
    FakeScreenCastSession m_screenCastSession;
    FakeKWin m_kwin;

    // Why the screen cast route cannot be tried here; empty when it can.
    static QString screenCastUnavailable()
    {
        if (!QDBusConnection::sessionBus().isConnected())
            return QStringLiteral("dbus-daemon could not be started");
        if (!MutterScreenCastCapture::builtWithPipeWire())
            return QStringLiteral("built without PipeWire");
        return QString();
    }
    // A second connection to the suite's bus, where the stand-in services are registered.
    static QDBusConnection standInBus()
    {
        return QDBusConnection::connectToBus(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"),
                                             "portal");
    }

    // The calls that set up and start recording the primary screen: by its name when it has
    // one, then as the only monitor.
    static QStringList recordingCalls()
    {
        const QString name = QGuiApplication::primaryScreen()->name();
        QStringList calls{"CreateSession"};
        if (!name.isEmpty())
            calls << QStringLiteral("RecordMonitor(%1, cursor-mode 0)").arg(name);
        return calls << "RecordMonitor(, cursor-mode 0)"
                     << "Start";
    }

private slots:
    void initTestCase()
    {
        // A session bus of our own, before anything in the process connects to one.
        QVERIFY(m_runtime.isValid());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
        qunsetenv("PIPEWIRE_RUNTIME_DIR");
        qunsetenv("PIPEWIRE_REMOTE");
        // No service folders: a missing portal must not be started from the machine's own.
        QFile config(m_runtime.filePath("bus.conf"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("<busconfig><type>session</type><listen>unix:dir=" +
                     QFile::encodeName(m_runtime.path()) +
                     "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                     "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
                     "<allow own=\"*\"/></policy></busconfig>");
        config.close();
        if (KavriTest::startTied(
                m_bus, QStringLiteral("dbus-daemon"),
                {"--config-file=" + config.fileName(), "--nofork", "--print-address=1"}) &&
            m_bus.waitForReadyRead(5000)) {
            const QByteArray address = m_bus.readLine().trimmed();
            qputenv("DBUS_SESSION_BUS_ADDRESS", address);
            QDBusConnection portal = QDBusConnection::connectToBus(QString(address), "portal");
            QVERIFY(portal.registerObject("/org/freedesktop/portal/desktop", &m_portal,
                                          QDBusConnection::ExportAllSlots));
            m_screenCast.calls = &m_screenCastSession.calls;
            QVERIFY(portal.registerObject("/org/gnome/Mutter/ScreenCast", &m_screenCast,
                                          QDBusConnection::ExportAllSlots));
            QVERIFY(portal.registerObject("/org/gnome/Mutter/ScreenCast/Session/u1",
                                          &m_screenCastSession, QDBusConnection::ExportAllSlots));
            QVERIFY(portal.registerObject("/org/kde/KWin/ScreenShot2", &m_kwin,
                                          QDBusConnection::ExportAllSlots));
        }
    }

    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus("portal");
        m_bus.kill();
        m_bus.waitForFinished();
    }

    void portalAnswersBecomePicturesOrFailures_data()
    {
        QTest::addColumn<bool>("running");
        QTest::addColumn<uint>("response");
        QTest::addColumn<QString>("folder"); // where the portal leaves its file
        QTest::addColumn<bool>("picture");
        QTest::addColumn<bool>("lasting");
        QTest::addColumn<bool>("fileKept");
        QTest::newRow("picture in a temporary folder: read, then deleted")
            << true << 0u << "tmp" << true << false << false;
        QTest::newRow("picture in Pictures: read and kept")
            << true << 0u << "Pictures" << true << false << true;
        QTest::newRow("cancelled: may pass") << true << 1u << "tmp" << false << false << true;
        QTest::newRow("refused: lasting") << true << 2u << "tmp" << false << true << true;
        QTest::newRow("no portal: lasting") << false << 0u << "tmp" << false << true << true;
    }

    void portalAnswersBecomePicturesOrFailures()
    {
        QFETCH(bool, running);
        QFETCH(uint, response);
        QFETCH(QString, folder);
        QFETCH(bool, picture);
        QFETCH(bool, lasting);
        QFETCH(bool, fileKept);
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("dbus-daemon could not be started");

        QScreen *screen = QGuiApplication::primaryScreen();
        const QSize size = FramePicture::deviceRect(screen).size();
        QTemporaryDir scratch;
        QVERIFY(QDir(scratch.path()).mkpath(folder));
        QImage desktop(size, QImage::Format_RGB32);
        desktop.fill(Qt::red);
        desktop.setPixel(size.width() - 1, size.height() - 1, qRgb(0, 0, 255));
        m_portal.file = scratch.filePath(folder + "/Screenshot.png");
        QVERIFY(desktop.save(m_portal.file));
        m_portal.response = response;
        QDBusConnection bus = QDBusConnection::connectToBus(
            qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), "portal");
        if (running)
            QVERIFY(bus.registerService("org.freedesktop.portal.Desktop"));

        PortalScreenshotCapture route;
        route.setTemporaryFolders({scratch.filePath("tmp")});
        route.setTimeout(5000);
        QSignalSpy pictures(&route, &ScreenCapture::captured);
        QSignalSpy failures(&route, &ScreenCapture::failed);
        route.capture(screen);
        QTRY_COMPARE(pictures.count() + failures.count(), 1);
        if (running)
            QVERIFY(bus.unregisterService("org.freedesktop.portal.Desktop"));

        QCOMPARE(pictures.count(), int(picture));
        if (picture) {
            const QPixmap shot = pictures.first().at(1).value<QPixmap>();
            QCOMPARE(shot.size(), size);
            QCOMPARE(shot.devicePixelRatio(), screen->devicePixelRatio());
            const QImage image = shot.toImage();
            QCOMPARE(image.pixel(0, 0), qRgb(255, 0, 0));
            QCOMPARE(image.pixel(size.width() - 1, size.height() - 1), qRgb(0, 0, 255));
        } else {
            QCOMPARE(failures.first().at(1).toBool(), lasting);
        }
        if (running) {
            QCOMPARE(m_portal.options.value("interactive"), QVariant(false));
            QVERIFY(!m_portal.options.value("handle_token").toString().isEmpty());
        }
        QCOMPARE(QFile::exists(m_portal.file), fileKept);
    }

    // Answers naming something else than the screenshot. Each is refused with one line and
    // no picture, without waiting on it, without decoding more than a screen's worth of
    // pixels, and without deleting anything; only the screenshot itself is deleted once read.
    // The process's peak memory during each row is printed.
    void portalAnswersThatAreNotTheScreenshotAreLeftAlone_data()
    {
        QTest::addColumn<QString>("answer"); // what the portal's path names
        QTest::addColumn<QString>("whyContains");
        QTest::newRow("the screenshot: read, then deleted") << "screenshot"
                                                            << "";
        QTest::newRow("a FIFO: never waited on") << "fifo"
                                                 << "is a FIFO";
        QTest::newRow("a device") << "device"
                                  << "is a device";
        QTest::newRow("a text file in the temporary folder") << "text"
                                                             << "is not a picture";
        QTest::newRow("Kavri's lock file in the runtime folder") << "lock"
                                                                 << "is not a picture";
        QTest::newRow("a link from home to the screenshot") << "link"
                                                            << "is a link";
        QTest::newRow("a 16000x16000 picture: refused before decoding")
            << "huge"
            << "is a picture of 16000x16000 pixels";
        QTest::newRow("another user's screenshot") << "others"
                                                   << "belongs to another user";
    }

    void portalAnswersThatAreNotTheScreenshotAreLeftAlone()
    {
        QFETCH(QString, answer);
        QFETCH(QString, whyContains);
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("dbus-daemon could not be started");
        if (answer == "others" && ::geteuid() != 0)
            QSKIP("needs root to give a file to another user");

        QScreen *screen = QGuiApplication::primaryScreen();
        const QSize size = FramePicture::deviceRect(screen).size();
        QTemporaryDir scratch;
        QDir root(scratch.path());
        QVERIFY(root.mkpath("tmp") && root.mkpath("home"));
        QImage desktop(size, QImage::Format_RGB32);
        desktop.fill(Qt::red);
        const QString screenshot = root.filePath("tmp/Screenshot.png");
        QVERIFY(desktop.save(screenshot));
        QFile lock(m_runtime.filePath("kavri.lock"));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.write(QByteArray::number(QCoreApplication::applicationPid()) + "\nkavri\nhost\n");
        lock.close();
        QString named = screenshot;
        if (answer == "fifo") {
            named = root.filePath("tmp/fifo.png");
            QCOMPARE(::mkfifo(QFile::encodeName(named).constData(), 0600), 0);
        } else if (answer == "device") {
            named = "/dev/null";
        } else if (answer == "text") {
            named = root.filePath("tmp/notes.png");
            QFile text(named);
            QVERIFY(text.open(QIODevice::WriteOnly));
            text.write("not a picture\n");
        } else if (answer == "lock") {
            named = lock.fileName();
        } else if (answer == "link") {
            named = root.filePath("home/Screenshot.png");
            QVERIFY(QFile::link(screenshot, named));
        } else if (answer == "huge") {
            QImage huge(16000, 16000, QImage::Format_Mono);
            huge.fill(0);
            QVERIFY(huge.save(screenshot));
        } else if (answer == "others") {
            QCOMPARE(::chown(QFile::encodeName(screenshot).constData(), 65534, 65534), 0);
        }
        const auto everything = [&] {
            QStringList files;
            if (QFileInfo::exists(lock.fileName()))
                files << lock.fileName();
            QDirIterator it(scratch.path(), QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot,
                            QDirIterator::Subdirectories);
            while (it.hasNext())
                files << it.next();
            files.sort();
            return files;
        };
        QStringList expectedLeft = everything();
        if (answer == "screenshot")
            expectedLeft.removeOne(screenshot);

        QDBusConnection bus = QDBusConnection::connectToBus(
            qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), "portal");
        QVERIFY(bus.registerService("org.freedesktop.portal.Desktop"));
        m_portal.response = 0;
        m_portal.file = named;
        PortalScreenshotCapture route;
        route.setTemporaryFolders({root.filePath("tmp"), m_runtime.path()});
        route.setTimeout(20000);
        QSignalSpy pictures(&route, &ScreenCapture::captured);
        QSignalSpy failures(&route, &ScreenCapture::failed);

        // Should the GUI thread wait on the FIFO, a writer comes after 3 s to release it, and
        // the row fails rather than hangs.
        std::promise<void> answered;
        auto writer = std::async(std::launch::async, [&, done = answered.get_future()] {
            if (answer != "fifo" ||
                done.wait_for(std::chrono::seconds(3)) == std::future_status::ready)
                return false;
            const int fd = ::open(QFile::encodeName(named).constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
            return fd >= 0;
        });
        // The longest the event loop stood still while the answer was handled.
        QElapsedTimer sinceTick;
        qint64 longestStall = 0;
        QTimer heartbeat;
        connect(&heartbeat, &QTimer::timeout, this,
                [&] { longestStall = std::max(longestStall, sinceTick.restart()); });
        heartbeat.start(10);
        sinceTick.start();
        const qint64 peakBefore = resetPeakMemory();
        route.capture(screen);
        QTRY_COMPARE_WITH_TIMEOUT(pictures.count() + failures.count(), 1, 15000);
        const qint64 peak = peakMemory();
        QTest::qWait(30);
        heartbeat.stop();
        answered.set_value();
        const bool writerMetAReader = writer.get();
        QVERIFY(bus.unregisterService("org.freedesktop.portal.Desktop"));
        qInfo("%s: peak RSS %.1f MB (%.1f MB when asked), longest stall %lld ms",
              qPrintable(answer), peak / 1048576.0, peakBefore / 1048576.0, longestStall);

        QVERIFY2(!writerMetAReader, "the GUI thread waited on the FIFO");
        QVERIFY2(longestStall < 1000, qPrintable(QString::number(longestStall)));
        QCOMPARE(everything(), expectedLeft);
        QVERIFY(QFileInfo("/dev/null").exists());
        // A screen-sized picture costs a few copies of its pixels; four times the screen's
        // pixels (a scaling compositor) at most, however large the picture claims to be.
        const qint64 screenBytes = qint64(size.width()) * size.height() * 4;
        QVERIFY2(peak - peakBefore < 16 * screenBytes + (32 << 20),
                 qPrintable(QString::number(peak - peakBefore)));
        if (answer == "screenshot") {
            QCOMPARE(pictures.count(), 1);
        } else {
            QCOMPARE(failures.count(), 1);
            const QString why = failures.first().at(0).toString();
            QVERIFY2(why.contains(whyContains) && why.contains(named) && !why.contains('\n'),
                     qPrintable(why));
            QCOMPARE(failures.first().at(1).toBool(), false);
        }
    }

    void portalThatNeverAnswersIsGivenUpTheSecondTime()
    {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("dbus-daemon could not be started");
        QDBusConnection bus = QDBusConnection::connectToBus(
            qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), "portal");
        QVERIFY2(bus.registerService("org.freedesktop.portal.Desktop"),
                 qPrintable(bus.lastError().message()));
        m_portal.silent = true;
        PortalScreenshotCapture route;
        route.setTimeout(300);
        QSignalSpy failures(&route, &ScreenCapture::failed);
        route.capture(QGuiApplication::primaryScreen());
        QTRY_COMPARE(failures.count(), 1);
        route.capture(QGuiApplication::primaryScreen());
        QTRY_COMPARE(failures.count(), 2);
        m_portal.silent = false;
        bus.unregisterService("org.freedesktop.portal.Desktop");
        QCOMPARE(failures.at(0).at(1).toBool(), false);
        QCOMPARE(failures.at(1).at(1).toBool(), true);
    }

    void screenCastSessionIsSetUpAndAlwaysStopped_data()
    {
        QTest::addColumn<bool>("running");
        QTest::addColumn<bool>("announce");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<bool>("lasting");
        QTest::addColumn<QString>("whyContains");
        // A screen named otherwise than the monitors, alone, is recorded as the only monitor.
        const QStringList recorded = recordingCalls();
        // The suite's runtime folder has no PipeWire socket: the announced node is out of reach.
        QTest::newRow("node announced, PipeWire out of reach: lasting")
            << true << true << recorded + QStringList{"Stop"} << true << "PipeWire";
        QTest::newRow("no node announced: timeout, may pass")
            << true << false << recorded + QStringList{"Stop"} << false << "no frame";
        QTest::newRow("no screen cast service: lasting")
            << false << true << QStringList{} << true << "GNOME screen cast";
    }

    void screenCastSessionIsSetUpAndAlwaysStopped()
    {
        QFETCH(bool, running);
        QFETCH(bool, announce);
        QFETCH(QStringList, calls);
        QFETCH(bool, lasting);
        QFETCH(QString, whyContains);
        const QString why = screenCastUnavailable();
        if (!why.isEmpty())
            QSKIP(qPrintable(why));
        QDBusConnection bus = standInBus();
        if (running)
            QVERIFY(bus.registerService("org.gnome.Mutter.ScreenCast"));
        m_screenCastSession.calls.clear();
        m_screenCastSession.announce = announce;

        MutterScreenCastCapture route;
        route.setTimeout(500);
        QSignalSpy failures(&route, &ScreenCapture::failed);
        route.capture(QGuiApplication::primaryScreen());
        QTRY_COMPARE(failures.count(), 1);
        // Stop is sent without waiting for its answer.
        QTRY_COMPARE(m_screenCastSession.calls, calls);
        if (running)
            QVERIFY(bus.unregisterService("org.gnome.Mutter.ScreenCast"));
        QCOMPARE(failures.first().at(1).toBool(), lasting);
        QVERIFY2(failures.first().at(0).toString().contains(whyContains),
                 qPrintable(failures.first().at(0).toString()));
    }

    // A capture nobody wants any more (the mode moved past the lens, the key let go) ends
    // its session at once, not at the timeout, and is answered by neither signal. The route's
    // timeout is a minute here, so only the cancel can have stopped the session.
    void cancelledScreenCastIsStoppedAtOnce_data()
    {
        QTest::addColumn<bool>("waitForStart");
        QTest::addColumn<QStringList>("calls");
        const QStringList recorded = recordingCalls();
        QTest::newRow("while the session records") << true << recorded + QStringList{"Stop"};
        QTest::newRow("before the session was made")
            << false << QStringList{"CreateSession", "Stop"};
    }

    void cancelledScreenCastIsStoppedAtOnce()
    {
        QFETCH(bool, waitForStart);
        QFETCH(QStringList, calls);
        const QString why = screenCastUnavailable();
        if (!why.isEmpty())
            QSKIP(qPrintable(why));
        QDBusConnection bus = standInBus();
        QVERIFY(bus.registerService("org.gnome.Mutter.ScreenCast"));
        m_screenCastSession.calls.clear();
        m_screenCastSession.announce = false;

        MutterScreenCastCapture route;
        route.setTimeout(60000);
        QSignalSpy pictures(&route, &ScreenCapture::captured);
        QSignalSpy failures(&route, &ScreenCapture::failed);
        route.capture(QGuiApplication::primaryScreen());
        if (waitForStart)
            QTRY_VERIFY(m_screenCastSession.calls.contains("Start"));
        route.cancel();
        QTRY_COMPARE(m_screenCastSession.calls, calls);
        QTest::qWait(50);
        QCOMPARE(m_screenCastSession.calls, calls);
        QVERIFY(bus.unregisterService("org.gnome.Mutter.ScreenCast"));
        QCOMPARE(pictures.count() + failures.count(), 0);
    }

    // KWin's answers, each through a chain whose next route answers green: a lasting failure
    // moves on to it, any other failure is passed on, a picture is KWin's pixels of the screen.
    void kwinAnswersBecomePicturesOrFailures_data()
    {
        QTest::addColumn<bool>("running");
        QTest::addColumn<bool>("known"); // KWin has an output of the screen's name
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("moreBytes");
        QTest::addColumn<QVariantMap>("overrides");
        QTest::addColumn<QString>("outcome"); // "kwin", "next" or "failed"

        const int rgb = QImage::Format_RGB32, premultiplied = QImage::Format_ARGB32_Premultiplied;
        const QString none;
        QTest::newRow("the screen by its name: its pixels")
            << true << true << none << rgb << 0 << QVariantMap() << "kwin";
        QTest::newRow("a screen KWin names otherwise: the workspace, cut to it, opaque")
            << true << false << none << premultiplied << 0 << QVariantMap() << "kwin";
        QTest::newRow("deep colour")
            << true << true << none << int(QImage::Format_RGBA64) << 0 << QVariantMap() << "kwin";
        QTest::newRow("not authorised: the next route")
            << true << true << "org.kde.KWin.ScreenShot2.Error.NoAuthorized" << rgb << 0
            << QVariantMap() << "next";
        QTest::newRow("no KWin: the next route")
            << false << true << none << rgb << 0 << QVariantMap() << "next";
        QTest::newRow("cancelled by KWin: may pass")
            << true << true << "org.kde.KWin.ScreenShot2.Error.Cancelled" << rgb << 0
            << QVariantMap() << "failed";
        QTest::newRow("never answers: timeout, may pass")
            << true << true << "silent" << rgb << 0 << QVariantMap() << "failed";
        QTest::newRow("more bytes than announced")
            << true << true << none << rgb << 4096 << QVariantMap() << "failed";
        QTest::newRow("fewer bytes than announced")
            << true << true << none << rgb << -100 << QVariantMap() << "failed";
        QTest::newRow("a size no screen has")
            << true << true << none << rgb << 0 << QVariantMap{{"width", 100000u}} << "failed";
        QTest::newRow("rows shorter than their pixels")
            << true << true << none << rgb << 0 << QVariantMap{{"stride", 4u}} << "failed";
        QTest::newRow("not raw pixels")
            << true << true << none << rgb << 0 << QVariantMap{{"type", "png"}} << "failed";
    }

    void kwinAnswersBecomePicturesOrFailures()
    {
        QFETCH(bool, running);
        QFETCH(bool, known);
        QFETCH(QString, error);
        QFETCH(int, format);
        QFETCH(int, moreBytes);
        QFETCH(QVariantMap, overrides);
        QFETCH(QString, outcome);
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("dbus-daemon could not be started");
        QDBusConnection bus = standInBus();
        if (running)
            QVERIFY(bus.registerService("org.kde.KWin"));

        QScreen *screen = QGuiApplication::primaryScreen();
        const QSize size = FramePicture::deviceRect(screen).size();
        QImage picture(size, QImage::Format(format));
        picture.fill(Qt::red);
        picture.setPixelColor(size.width() - 1, size.height() - 1, Qt::blue);
        picture.setPixelColor(1, 0, QColor(0, 0, 0, 0));
        m_kwin.reset(picture, known ? screen->name() : QStringLiteral("elsewhere"));
        m_kwin.silent = error == "silent";
        m_kwin.error = m_kwin.silent ? QString() : error;
        m_kwin.moreBytes = moreBytes;
        m_kwin.overrides = overrides;

        QStringList log;
        std::vector<std::unique_ptr<ScreenCapture>> routes;
        auto kwin = std::make_unique<KWinScreenShotCapture>();
        kwin->setTimeout(m_kwin.silent ? 300 : 5000);
        routes.push_back(std::move(kwin));
        routes.push_back(
            std::make_unique<ScriptedRoute>("next", ScriptedRoute::Picture, Qt::green, &log));
        CaptureChain chain(std::move(routes));
        QSignalSpy pictures(&chain, &ScreenCapture::captured);
        QSignalSpy failures(&chain, &ScreenCapture::failed);
        chain.capture(screen);
        QCOMPARE(pictures.count() + failures.count(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(pictures.count() + failures.count(), 1, 10000);
        m_kwin.joinWriters();
        QTest::qWait(20);
        if (running)
            QVERIFY(bus.unregisterService("org.kde.KWin"));
        QCOMPARE(pictures.count() + failures.count(), 1);

        QStringList calls;
        if (running && !screen->name().isEmpty())
            calls << QStringLiteral("CaptureScreen(%1)").arg(screen->name());
        if (running && (screen->name().isEmpty() || !known))
            calls << "CaptureWorkspace";
        QCOMPARE(m_kwin.calls, calls);
        QCOMPARE(log, outcome == "next" ? QStringList{"next:" + screen->name()} : QStringList());
        if (outcome == "failed") {
            const QString why = failures.first().at(0).toString();
            QVERIFY2(!why.isEmpty() && !why.contains('\n'), qPrintable(why));
            QCOMPARE(failures.first().at(1).toBool(), false);
            return;
        }
        QCOMPARE(pictures.count(), 1);
        const QPixmap shot = pictures.first().at(1).value<QPixmap>();
        const QImage image = shot.toImage();
        if (outcome == "next") {
            QCOMPARE(image.pixel(1, 1), qRgb(0, 255, 0));
            return;
        }
        QCOMPARE(pictures.first().at(0).value<QPointer<QScreen>>(), QPointer<QScreen>(screen));
        QCOMPARE(shot.size(), size);
        QCOMPARE(shot.devicePixelRatio(), screen->devicePixelRatio());
        QCOMPARE(image.pixel(0, 0), qRgb(255, 0, 0));
        QCOMPARE(image.pixel(size.width() - 1, size.height() - 1), qRgb(0, 0, 255));
        QCOMPARE(qAlpha(image.pixel(1, 0)), 255);
    }

    // A request withdrawn while KWin answers: its answer and pixels go nowhere, and the next
    // request gets one picture of its own.
    void cancelledKWinRequestDeliversNothing()
    {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("dbus-daemon could not be started");
        QDBusConnection bus = standInBus();
        QVERIFY(bus.registerService("org.kde.KWin"));
        QScreen *screen = QGuiApplication::primaryScreen();
        QImage picture(FramePicture::deviceRect(screen).size(), QImage::Format_RGB32);
        picture.fill(Qt::red);
        m_kwin.reset(picture, screen->name());

        KWinScreenShotCapture route;
        QSignalSpy pictures(&route, &ScreenCapture::captured);
        QSignalSpy failures(&route, &ScreenCapture::failed);
        route.capture(screen);
        route.cancel();
        QTRY_COMPARE(m_kwin.calls.size(), 1);
        m_kwin.joinWriters();
        QTest::qWait(100);
        QCOMPARE(pictures.count() + failures.count(), 0);
        route.capture(screen);
        QTRY_COMPARE(pictures.count(), 1);
        m_kwin.joinWriters();
        QTest::qWait(50);
        QVERIFY(bus.unregisterService("org.kde.KWin"));
        QCOMPARE(pictures.count(), 1);
        QCOMPARE(failures.count(), 0);
        QCOMPARE(pictures.first().at(1).value<QPixmap>().toImage().pixel(0, 0), qRgb(255, 0, 0));
    }

    void chainFallsBackOnlyOnLastingFailures_data()
    {
        QTest::addColumn<Script>("script");
        QTest::addColumn<QString>("answeredBy"); // colour name of the picture, or empty
        QTest::addColumn<bool>("lastingFailure");
        QTest::addColumn<QStringList>("asked");
        QTest::addColumn<QString>("nameAfter");
        QTest::addColumn<QString>("whyContains");

        const int P = ScriptedRoute::Picture, T = ScriptedRoute::Passing,
                  L = ScriptedRoute::Lasting;
        QTest::newRow("first route answers")
            << Script{P, P} << "#ff0000" << false << QStringList{"a"} << "a"
            << "";
        QTest::newRow("lasting failure: same request goes to the next")
            << Script{L, P} << "#00ff00" << false << QStringList{"a", "b"} << "b"
            << "";
        QTest::newRow("passing failure is passed on, route kept")
            << Script{T, P} << "" << false << QStringList{"a"} << "a"
            << "a failed";
        QTest::newRow("two lasting failures reach the third")
            << Script{L, L, P} << "#0000ff" << false << QStringList{"a", "b", "c"} << "c"
            << "";
        QTest::newRow("all lasting: one failure naming every route")
            << Script{L, L} << "" << true << QStringList{"a", "b"} << ""
            << "a: a failed; b: b failed";
        QTest::newRow("no routes") << Script{} << "" << true << QStringList{} << ""
                                   << "no screen capture route";
    }

    void chainFallsBackOnlyOnLastingFailures()
    {
        QFETCH(Script, script);
        QFETCH(QString, answeredBy);
        QFETCH(bool, lastingFailure);
        QFETCH(QStringList, asked);
        QFETCH(QString, nameAfter);
        QFETCH(QString, whyContains);

        QStringList log;
        const QList<QColor> colours{Qt::red, Qt::green, Qt::blue};
        std::vector<std::unique_ptr<ScreenCapture>> routes;
        for (int i = 0; i < script.size(); ++i) {
            routes.push_back(std::make_unique<ScriptedRoute>(QString(QChar('a' + i)),
                                                             ScriptedRoute::Outcome(script.at(i)),
                                                             colours.at(i), &log));
        }
        routes.push_back(nullptr); // ignored
        CaptureChain chain(std::move(routes));
        QCOMPARE(chain.routeCount(), script.size());
        QSignalSpy pictures(&chain, &ScreenCapture::captured);
        QSignalSpy failures(&chain, &ScreenCapture::failed);

        QScreen *screen = QGuiApplication::primaryScreen();
        chain.capture(screen);
        QCOMPARE(pictures.count() + failures.count(), 0); // never from within the call
        QTRY_COMPARE(pictures.count() + failures.count(), 1);
        QTest::qWait(20);
        QCOMPARE(pictures.count() + failures.count(), 1);

        QStringList expectedLog;
        for (const QString &route : asked)
            expectedLog << route + QLatin1Char(':') + screen->name();
        QCOMPARE(log, expectedLog);
        QCOMPARE(chain.name(), nameAfter);
        if (!answeredBy.isEmpty()) {
            QCOMPARE(pictures.count(), 1);
            QCOMPARE(pictures.first().at(0).value<QPointer<QScreen>>(), QPointer<QScreen>(screen));
            const QImage picture = pictures.first().at(1).value<QPixmap>().toImage();
            QCOMPARE(QColor(picture.pixel(1, 1)).name(), answeredBy);
        } else {
            QCOMPARE(failures.count(), 1);
            QCOMPARE(failures.first().at(1).toBool(), lastingFailure);
            QVERIFY2(failures.first().at(0).toString().contains(whyContains),
                     qPrintable(failures.first().at(0).toString()));
        }
    }

    void emptyChainKeepsFailingForGood()
    {
        QStringList log;
        std::vector<std::unique_ptr<ScreenCapture>> routes;
        routes.push_back(
            std::make_unique<ScriptedRoute>("a", ScriptedRoute::Lasting, Qt::red, &log));
        CaptureChain chain(std::move(routes));
        QSignalSpy failures(&chain, &ScreenCapture::failed);
        chain.capture(QGuiApplication::primaryScreen());
        QTRY_COMPARE(failures.count(), 1);
        chain.capture(QGuiApplication::primaryScreen());
        QCOMPARE(failures.count(), 1);
        QTRY_COMPARE(failures.count(), 2);
        QCOMPARE(failures.at(1).at(1).toBool(), true);
        QCOMPARE(failures.at(1).at(0).toString(), QStringLiteral("a: a failed"));
        QCOMPARE(log.size(), 1); // the dropped route is not asked again
    }

    void streamFramesBecomeOpaqueTopDownPictures_data()
    {
        QTest::addColumn<FramePicture::PixelLayout>("layout");
        QTest::addColumn<int>("pad");
        QTest::addColumn<bool>("bottomUp");
        QTest::addColumn<uchar>("alpha");

        using L = FramePicture::PixelLayout;
        QTest::newRow("BGRx, rows packed") << L::BGRx << 0 << false << uchar(0);
        QTest::newRow("BGRA, transparent alpha ignored") << L::BGRA << 0 << false << uchar(0);
        QTest::newRow("RGBx, padded rows") << L::RGBx << 20 << false << uchar(255);
        QTest::newRow("RGBA, padded rows") << L::RGBA << 4 << false << uchar(7);
        QTest::newRow("BGRx, bottom row first") << L::BGRx << 0 << true << uchar(0);
        QTest::newRow("RGBA, bottom row first, padded") << L::RGBA << 12 << true << uchar(9);
    }

    void streamFramesBecomeOpaqueTopDownPictures()
    {
        QFETCH(FramePicture::PixelLayout, layout);
        QFETCH(int, pad);
        QFETCH(bool, bottomUp);
        QFETCH(uchar, alpha);

        const QByteArray bytes = frameBytes(layout, pad, bottomUp, alpha);
        const int stride = (3 * 4 + pad) * (bottomUp ? -1 : 1);
        const QImage image =
            FramePicture::fromRaw(reinterpret_cast<const uchar *>(bytes.constData()), bytes.size(),
                                  QSize(3, 2), stride, layout);
        QCOMPARE(image.size(), QSize(3, 2));
        QCOMPARE(image.pixel(0, 0), qRgb(255, 0, 0));
        QCOMPARE(image.pixel(1, 0), qRgb(0, 255, 0));
        QCOMPARE(image.pixel(2, 0), qRgb(0, 0, 255));
        QCOMPARE(image.pixel(0, 1), qRgb(255, 255, 255));
        QCOMPARE(image.pixel(1, 1), qRgb(0, 0, 0));
        QCOMPARE(image.pixel(2, 1), qRgb(128, 64, 32));
        QVERIFY(!image.hasAlphaChannel());
    }

    void malformedFramesGiveNoPicture_data()
    {
        QTest::addColumn<int>("bytes");
        QTest::addColumn<int>("stride");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("valid");

        // The frame is 3 x 2 with 4 bytes of padding: 32 bytes, the last row 12 of them.
        QTest::newRow("last row complete without its padding") << 28 << 16 << QSize(3, 2) << true;
        QTest::newRow("last row cut short") << 27 << 16 << QSize(3, 2) << false;
        QTest::newRow("bottom-up, last row cut short") << 27 << -16 << QSize(3, 2) << false;
        QTest::newRow("stride shorter than a row") << 32 << 8 << QSize(3, 2) << false;
        QTest::newRow("negative stride shorter than a row") << 32 << -8 << QSize(3, 2) << false;
        QTest::newRow("no pixels") << 32 << 16 << QSize(0, 2) << false;
    }

    void malformedFramesGiveNoPicture()
    {
        QFETCH(int, bytes);
        QFETCH(int, stride);
        QFETCH(QSize, size);
        QFETCH(bool, valid);
        const QByteArray data(32, char(0x40));
        const QImage image =
            FramePicture::fromRaw(reinterpret_cast<const uchar *>(data.constData()), bytes, size,
                                  stride, FramePicture::PixelLayout::BGRx);
        QCOMPARE(image.isNull(), !valid);
        if (valid)
            QCOMPARE(image.pixel(2, 1), qRgb(0x40, 0x40, 0x40));
    }

    void desktopPictureIsCutToTheScreen_data()
    {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QVector<QRect>>("screens");
        QTest::addColumn<int>("which");
        QTest::addColumn<QRect>("part");

        const QVector<QRect> pair{{0, 0, 1280, 800}, {1280, 0, 1920, 1080}};
        QTest::newRow("single screen")
            << QSize(1280, 800) << QVector<QRect>{{0, 0, 1280, 800}} << 0 << QRect(0, 0, 1280, 800);
        QTest::newRow("left of two") << QSize(3200, 1080) << pair << 0 << QRect(0, 0, 1280, 800);
        QTest::newRow("right of two, taller")
            << QSize(3200, 1080) << pair << 1 << QRect(1280, 0, 1920, 1080);
        QTest::newRow("desktop starting left of zero")
            << QSize(3200, 1080) << QVector<QRect>{{-1920, 0, 1920, 1080}, {0, 280, 1280, 800}} << 1
            << QRect(1920, 280, 1280, 800);
        QTest::newRow("picture twice the desktop: part twice as large")
            << QSize(6400, 2160) << pair << 1 << QRect(2560, 0, 3840, 2160);
        QTest::newRow("picture half the desktop")
            << QSize(1600, 540) << pair << 0 << QRect(0, 0, 640, 400);
    }

    void desktopPictureIsCutToTheScreen()
    {
        QFETCH(QSize, picture);
        QFETCH(QVector<QRect>, screens);
        QFETCH(int, which);
        QFETCH(QRect, part);
        QCOMPARE(FramePicture::screenPart(picture, screens, screens.at(which)), part);
    }

    // A window's frame is found in the picture of the key press, or given no place.
    void castWindowIsPlacedOnTheScreen_data()
    {
        QTest::addColumn<QImage>("screen");
        QTest::addColumn<QImage>("frame");
        QTest::addColumn<QPoint>("at"); // (-1, -1): no place

        QImage noise(640, 400, QImage::Format_RGB32);
        QRandomGenerator random(7);
        for (int y = 0; y < noise.height(); ++y)
            for (int x = 0; x < noise.width(); ++x)
                noise.setPixel(x, y, random.generate() | 0xff000000u);
        const QRect window(300, 200, 200, 120);
        QImage changed = noise.copy(window);
        QPainter(&changed).fillRect(0, 0, 100, 60, Qt::magenta); // a quarter plays a video
        QImage checker(640, 400, QImage::Format_RGB32);
        for (int y = 0; y < 400; ++y)
            for (int x = 0; x < 640; ++x)
                checker.setPixel(x, y,
                                 (x / 40 + y / 40) % 2 ? qRgb(80, 160, 255) : qRgb(200, 230, 255));
        QImage plain(640, 400, QImage::Format_RGB32);
        plain.fill(Qt::white);
        QTest::newRow("the screen's size fills it, whatever it shows")
            << noise << plain << QPoint(0, 0);
        QTest::newRow("found where it lies") << noise << noise.copy(window) << window.topLeft();
        QTest::newRow("found in the corner")
            << noise << noise.copy(440, 280, 200, 120) << QPoint(440, 280);
        QTest::newRow("found though a quarter changed since")
            << noise << changed << window.topLeft();
        QTest::newRow("not on the picture (came after it)")
            << noise << plain.copy(window) << QPoint(-1, -1);
        QTest::newRow("plain on plain: anywhere, so nowhere")
            << plain << plain.copy(window) << QPoint(-1, -1);
        QTest::newRow("a repeating pattern fits in several places")
            << checker << checker.copy(window) << QPoint(-1, -1);
        QTest::newRow("larger than the screen")
            << noise.copy(0, 0, 320, 200) << noise.copy(0, 0, 330, 100) << QPoint(-1, -1);
    }
    void castWindowIsPlacedOnTheScreen()
    {
        QFETCH(QImage, screen);
        QFETCH(QImage, frame);
        QFETCH(QPoint, at);
        const std::optional<QPoint> place = CastPlacement::place(frame, screen);
        QCOMPARE(place.value_or(QPoint(-1, -1)), at);
    }
    // Where the lens reaches beyond the window, the picture of the key press shows.
    void castFrameComesOverThePressPicture()
    {
        QImage press(100, 80, QImage::Format_RGB32);
        press.fill(Qt::blue);
        QImage frame(40, 30, QImage::Format_RGB32);
        frame.fill(Qt::green);
        frame.setDevicePixelRatio(2.0); // drawn pixel for pixel all the same
        const QImage lens = CastPlacement::compose(press, QPoint(10, 10), frame, QPoint(50, 40),
                                                   QRect(40, 30, 20, 20));
        QCOMPARE(lens.size(), QSize(20, 20));
        QCOMPARE(lens.pixel(0, 0), qRgb(0, 0, 255));
        QCOMPARE(lens.pixel(10, 10), qRgb(0, 255, 0));
        QCOMPARE(lens.pixel(19, 19), qRgb(0, 255, 0));
        QCOMPARE(lens.pixel(9, 19), qRgb(0, 0, 255));
        QCOMPARE(
            CastPlacement::compose(press, QPoint(10, 10), frame, std::nullopt, QRect(0, 0, 20, 20))
                .pixel(5, 5),
            qRgb(0, 0, 0)); // beyond the press picture too
    }

    // On KWin: the window under the lens, and what of it shows, from KWin's window list.
    void kwinWindowUnderTheLens_data()
    {
        QTest::addColumn<QList<QRect>>("stack"); // bottom to top
        QTest::addColumn<QList<int>>("kinds");   // 0 a window, 1 the overlay's, 2 minimized
        QTest::addColumn<int>("picked");
        QTest::addColumn<QRegion>("visible");
        const QRect screen(0, 0, 1280, 800), small(100, 100, 400, 300), right(300, 0, 400, 300);
        QTest::newRow("the topmost there") << QList<QRect>{screen, small} << QList<int>{0, 0} << 1
                                           << QRegion(small);
        QTest::newRow("the overlay's left out, beneath not cut")
            << QList<QRect>{screen, small} << QList<int>{0, 1} << 0 << QRegion(screen);
        QTest::newRow("a minimized one left out")
            << QList<QRect>{screen, small} << QList<int>{0, 2} << 0 << QRegion(screen);
        QTest::newRow("cut by the window above")
            << QList<QRect>{screen, right} << QList<int>{0, 0} << 0
            << (QRegion(screen) - QRegion(right));
        QTest::newRow("none there") << QList<QRect>{right} << QList<int>{0} << -1 << QRegion();
    }
    void kwinWindowUnderTheLens()
    {
        QFETCH(QList<QRect>, stack);
        QFETCH(QList<int>, kinds);
        QFETCH(int, picked);
        QFETCH(QRegion, visible);
        std::vector<WindowPlacement::Window> windows;
        for (int i = 0; i < stack.size(); ++i)
            windows.push_back({QString::number(i), stack[i], kinds[i] == 1 ? 7u : 8u, kinds[i] != 2});
        const WindowPlacement::Pick pick = WindowPlacement::windowAt(windows, QPoint(200, 200), 7);
        QCOMPARE(pick.index, picked);
        QCOMPARE(pick.visible, visible);
    }
    // The screen cast records the window without its decoration.
    void kwinFrameSitsInsideTheDecoration()
    {
        const QRect window(100, 100, 420, 330);
        QCOMPARE(WindowPlacement::frameRect(window, window.size()), window);
        QCOMPARE(WindowPlacement::frameRect(window, QSize(400, 300)), QRect(110, 120, 400, 300));
        QCOMPARE(WindowPlacement::frameRect(window, QSize()), QRect());
    }

    void screenDeviceRectKeepsItsCorner()
    {
        QCOMPARE(FramePicture::deviceRect(QRect(1280, 0, 960, 540), 2.0),
                 QRect(1280, 0, 1920, 1080));
        QCOMPARE(FramePicture::deviceRect(QRect(0, 0, 1024, 640), 1.25), QRect(0, 0, 1280, 800));
    }

    void onlyTemporaryPortalFilesAreDeleted_data()
    {
        QTest::addColumn<QString>("file"); // relative to a scratch folder
        QTest::addColumn<bool>("deletable");
        QTest::addColumn<bool>("replaced"); // by another file after it was read
        QTest::newRow("directly in the temporary folder") << "tmp/Screenshot.png" << true << false;
        QTest::newRow("directly in the temporary folder, replaced after it was read")
            << "tmp/Screenshot.png" << false << true;
        QTest::newRow("in a folder of the temporary folder")
            << "tmp/portal/Screenshot.png" << false << false;
        QTest::newRow("in Pictures") << "Pictures/Screenshot.png" << false << false;
        QTest::newRow("link in the temporary folder to Pictures")
            << "tmp/link.png" << false << false;
        QTest::newRow("through a link to the temporary folder")
            << "tmplink/Screenshot.png" << false << false;
        QTest::newRow("folder named like the temporary one")
            << "tmp2/Screenshot.png" << false << false;
        QTest::newRow("missing file") << "tmp/missing.png" << false << false;
    }

    void onlyTemporaryPortalFilesAreDeleted()
    {
        QFETCH(QString, file);
        QFETCH(bool, deletable);
        QFETCH(bool, replaced);
        QTemporaryDir scratch;
        QVERIFY(scratch.isValid());
        QDir root(scratch.path());
        const QStringList names{"tmp/Screenshot.png", "tmp/portal/Screenshot.png",
                                "Pictures/Screenshot.png", "tmp2/Screenshot.png"};
        for (const QString &name : names) {
            QVERIFY(root.mkpath(QFileInfo(name).path()));
            QFile f(root.filePath(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QVERIFY(
            QFile::link(root.filePath("Pictures/Screenshot.png"), root.filePath("tmp/link.png")));
        QVERIFY(QFile::link(root.filePath("tmp"), root.filePath("tmplink")));
        ScreenshotFile opened;
        QString why;
        if (opened.open(root.filePath(file), &why)) {
            QByteArray bytes;
            QVERIFY(opened.read(100, &bytes, &why));
        }
        if (replaced) {
            QFile other(root.filePath("tmp/other.png"));
            QVERIFY(other.open(QIODevice::WriteOnly));
            other.close();
            QCOMPARE(::rename(QFile::encodeName(other.fileName()).constData(),
                              QFile::encodeName(root.filePath(file)).constData()),
                     0);
        }
        QCOMPARE(opened.removeIfDirectlyIn({root.filePath("tmp"), QString()}), deletable);
        QStringList expected = names + QStringList{"tmp/link.png"};
        if (deletable)
            expected.removeOne(file);
        QStringList left;
        for (const QString &name : names + QStringList{"tmp/link.png"}) {
            if (QFileInfo(root.filePath(name)).isSymLink() ||
                QFileInfo::exists(root.filePath(name)))
                left << name;
        }
        QCOMPARE(left, expected);
    }

    void screenCastComesBeforeTheFlashingPortal_data()
    {
        QTest::addColumn<bool>("portal");
        QTest::addColumn<uint>("version");
        QTest::addColumn<bool>("answered");
        QTest::addColumn<bool>("screenCast");
        QTest::addColumn<bool>("pipewire");
        QTest::addColumn<uint>("kwinScreenShot"); // 0: no KWin
        QTest::addColumn<QStringList>("routes");
        QTest::newRow("GNOME") << true << 1u << true << true << true << 0u
                               << QStringList{"gnome-screencast", "portal"};
        QTest::newRow("Plasma") << true << 4u << true << false << true << 4u
                                << QStringList{"kwin-screenshot", "portal"};
        QTest::newRow("Plasma without the portal")
            << false << 0u << false << false << true << 4u << QStringList{"kwin-screenshot"};
        QTest::newRow("GNOME, built without PipeWire")
            << true << 1u << true << true << false << 0u << QStringList{"portal"};
        QTest::newRow("KWin without its screenshot interface")
            << true << 4u << true << false << true << 0u << QStringList{"portal"};
        QTest::newRow("portal without Screenshot")
            << true << 0u << true << false << true << 0u << QStringList{};
        QTest::newRow("portal still starting")
            << true << 0u << false << false << true << 0u << QStringList{"portal"};
        QTest::newRow("nothing") << false << 0u << false << false << true << 0u << QStringList{};
    }

    void screenCastComesBeforeTheFlashingPortal()
    {
        QFETCH(bool, portal);
        QFETCH(uint, version);
        QFETCH(bool, answered);
        QFETCH(bool, screenCast);
        QFETCH(bool, pipewire);
        QFETCH(uint, kwinScreenShot);
        QFETCH(QStringList, routes);
        CaptureOffer offer;
        offer.sessionBus = true;
        offer.portal = portal;
        offer.portalScreenshotVersion = version;
        offer.portalAnswered = answered;
        offer.mutterScreenCast = screenCast;
        offer.kwin = true;
        offer.kwinScreenShotVersion = kwinScreenShot;
        QCOMPARE(captureRouteNames(recommendedCaptureRoutes(offer, pipewire)), routes);
    }
};

QTEST_MAIN(TestScreenCapture)
#include "tst_screencapture.moc"
