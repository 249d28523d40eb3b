#include "common/sessionbus.h"
#include "common/settingsfixture.h"
#include "presenter/presenterstate.h"
#include "shortcuts/shortcutservice.h"
#include "shortcuts/shortcuttable.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QtTest>

// KDE's shortcut service as far as Kavri uses it: it records what it is told.
class FakeKGlobalAccel : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.KGlobalAccel")
public:
    QStringList registered;
    QMap<QString, QList<int>> keys;
    QStringList unregistered;
public slots:
    Q_SCRIPTABLE void doRegister(const QStringList &id) { registered << id.join('/'); }
    Q_SCRIPTABLE QList<int> setShortcut(const QStringList &id, const QList<int> &k, uint)
    {
        keys.insert(id.value(1), k);
        return id.value(1) == "sizeUp" ? QList<int>{0} : k; // held by another component
    }
    Q_SCRIPTABLE bool unregister(const QString &component, const QString &action)
    {
        unregistered << component + '/' + action;
        return true;
    }
    Q_SCRIPTABLE QDBusObjectPath getComponent(const QString &component)
    {
        return QDBusObjectPath("/component/" + component);
    }
};

// The [Shortcuts] table of the settings file: what is read as a key combination, what is
// refused with a line naming its key, and what a binding writes.
class TestShortcuts : public QObject
{
    Q_OBJECT

    KavriTest::SettingsFixture m_settings;
    KavriTest::SessionBus m_bus;

    static void sendKey(const char *signal, const QString &action)
    {
        QDBusMessage message = QDBusMessage::createSignal("/component/kavri",
                                                          "org.kde.kglobalaccel.Component", signal);
        message << QStringLiteral("kavri") << action << qlonglong(0);
        QDBusConnection::sessionBus().send(message);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_bus.start());
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus.address().toUtf8());
    }
    void init() { QVERIFY(m_settings.reset()); }

    void readTable_data()
    {
        QTest::addColumn<QByteArray>("value"); // showWhileHeld's value as written
        QTest::addColumn<QString>("expected"); // as read back; "-": refused with a line
        QTest::newRow("not bound") << QByteArray() << QString();
        QTest::newRow("empty value") << QByteArray("showWhileHeld=") << QString();
        QTest::newRow("modifier and function key")
            << QByteArray("showWhileHeld=Meta+F8") << "Meta+F8";
        QTest::newRow("several modifiers, any case")
            << QByteArray("showWhileHeld=ctrl+shift+b") << "Ctrl+Shift+B";
        QTest::newRow("a plain key, as a generic remote sends")
            << QByteArray("showWhileHeld=F5") << "F5";
        QTest::newRow("a comma key, quoted") << QByteArray("showWhileHeld=\"Ctrl+,\"") << "Ctrl+,";
        QTest::newRow("unknown key name") << QByteArray("showWhileHeld=Ctrl+Foo") << "-";
        QTest::newRow("modifiers alone") << QByteArray("showWhileHeld=Ctrl+Alt") << "-";
        QTest::newRow("two combinations") << QByteArray("showWhileHeld=\"Ctrl+A, B\"") << "-";
        QTest::newRow("native words") << QByteArray("showWhileHeld=Strg+B") << "-";
    }
    void readTable()
    {
        QFETCH(QByteArray, value);
        QFETCH(QString, expected);
        QVERIFY(
            m_settings.write("[General]\nlanguage=1\n\n[Shortcuts]\ntoggle=F9\n" + value + "\n"));
        if (expected == "-")
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression("^Kavri: the shortcut showWhileHeld in "
                                                    "Kavri.ini, \".*\", is no key combination"));
        const auto store = m_settings.store();
        const Shortcuts::Table table = Shortcuts::read(*store);
        QCOMPARE(table[Shortcuts::ShowWhileHeld].toString(QKeySequence::PortableText),
                 expected == "-" ? QString() : expected);
        // One refused value leaves the others alone.
        QCOMPARE(table[Shortcuts::Toggle], QKeySequence(Qt::Key_F9));
        QVERIFY(table[Shortcuts::SizeUp].isEmpty());
    }

    // Binding writes portable text into the [Shortcuts] group, beside the other keys, and
    // clearing a field writes an empty value that reads back as unbound.
    void bindingWritesTheGroup()
    {
        QVERIFY(m_settings.write("[General]\nlanguage=1\n"));
        {
            const auto store = m_settings.store();
            Shortcuts::write(*store, Shortcuts::SizeDown, QKeySequence("Meta+Alt+Down"));
            Shortcuts::write(*store, Shortcuts::NextEffect, QKeySequence(Qt::Key_F8));
            Shortcuts::write(*store, Shortcuts::NextEffect, QKeySequence());
            QCOMPARE(store->writeCount(), 3);
            QVERIFY(!store->hasPendingWrites());
        }
        const QString text = m_settings.text();
        QVERIFY2(text.contains("[Shortcuts]\nnextEffect=\nsizeDown=Meta+Alt+Down\n"),
                 qPrintable(text));
        QVERIFY(text.contains("language=1"));
        const auto store = m_settings.store();
        const Shortcuts::Table table = Shortcuts::read(*store);
        QCOMPARE(table[Shortcuts::SizeDown], QKeySequence("Meta+Alt+Down"));
        QVERIFY(Shortcuts::isEmpty({}));
        QVERIFY(!Shortcuts::isEmpty(table));
    }

    // On a Wayland session with KDE's shortcut service the bound actions are registered with
    // their keys as defaults, the unbound ones unregistered, a key KDE gives to none told; a
    // press shows and a release hides, a repeated press changes nothing.
    void kdeShortcutService()
    {
        FakeKGlobalAccel fake;
        QDBusConnection bus = QDBusConnection::sessionBus();
        QVERIFY(bus.registerObject("/kglobalaccel", &fake, QDBusConnection::ExportScriptableSlots));
        QVERIFY(bus.registerService("org.kde.kglobalaccel"));
        const auto unregister = qScopeGuard([&] {
            bus.unregisterService("org.kde.kglobalaccel");
            bus.unregisterObject("/kglobalaccel");
        });
        qputenv("WAYLAND_DISPLAY", "wayland-kavri-test");
        const auto unset = qScopeGuard([] { qunsetenv("WAYLAND_DISPLAY"); });
        QVERIFY(m_settings.write("[Shortcuts]\nshowWhileHeld=Meta+F8\ntoggle=\nsizeUp=Meta+Up\n"));
        const auto store = m_settings.store();
        PresenterState state(*store);
        QSignalSpy shown(&state, &PresenterState::shownChanged);
        ShortcutService service(*store, state, "wayland");
        QTest::ignoreMessage(QtInfoMsg,
                             "Kavri: shortcuts: KDE global shortcuts (org.kde.kglobalaccel)");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Kavri: the shortcut sizeUp "
                                                              "\\(Meta\\+Up\\) cannot be taken"));
        QSignalSpy taken(&service, &ShortcutService::shortcutTaken);
        service.start();
        QCOMPARE(service.route(), ShortcutService::Route::KdeGlobalAccel);
        QCOMPARE(taken, QList<QVariantList>{{"Meta+Up"}});
        QCOMPARE(fake.registered.first(), "kavri/showWhileHeld/Kavri/showWhileHeld");
        QCOMPARE(fake.keys.value("showWhileHeld"),
                 QList<int>{int(Qt::MetaModifier) | int(Qt::Key_F8)});
        QVERIFY(fake.unregistered.contains("kavri/toggle"));

        sendKey("globalShortcutPressed", "showWhileHeld");
        sendKey("globalShortcutPressed", "showWhileHeld");
        QTRY_VERIFY(state.isShown());
        sendKey("globalShortcutReleased", "showWhileHeld");
        QTRY_VERIFY(!state.isShown());
        QCOMPARE(shown.count(), 2);
    }
};

QTEST_GUILESS_MAIN(TestShortcuts)
#include "tst_shortcuts.moc"
