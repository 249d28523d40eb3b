#include "device/hidstatus.h"
#include "presenter/presenterstate.h"
#include "settings/settingsstore.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

using StateCall = std::function<void(PresenterState &)>;
Q_DECLARE_METATYPE(StateCall)

// The presenter's state without any window: what reaches the overlay, what reaches the
// settings file and when, and the values restored from a file.
class TestPresenterState : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_path;
    int m_files = 0;
    std::unique_ptr<SettingsStore> m_store;

    PresenterState &makeState(const QByteArray &file = QByteArray())
    {
        if (!file.isNull()) {
            QFile out(m_path);
            if (out.open(QIODevice::WriteOnly))
                out.write(file);
        }
        m_store = std::make_unique<SettingsStore>(m_path);
        m_state = std::make_unique<PresenterState>(*m_store);
        m_state->setKeyClock([this] { return m_now; });
        return *m_state;
    }
    QString fileText() const
    {
        QFile in(m_path);
        return in.open(QIODevice::ReadOnly) ? QString::fromUtf8(in.readAll()) : QString();
    }
    std::unique_ptr<PresenterState> m_state;
    qint64 m_now = 0;

private slots:
    void init()
    {
        m_path = m_dir.filePath(QStringLiteral("Kavri-%1.ini").arg(++m_files));
        m_now = 1000;
    }
    void cleanup()
    {
        m_state.reset();
        m_store.reset();
    }

    // Each of the user's changes goes to the file once; the alpha of a colour is not stored.
    void changesReachOverlayAndFile_data()
    {
        QTest::addColumn<StateCall>("call");
        QTest::addColumn<QString>("line"); // the file's one line; empty: no file
        QTest::newRow("fore colour, alpha 128 stored as opaque")
            << StateCall([](PresenterState &s) { s.setForeColor(QColor(0, 255, 0, 128)); })
            << QStringLiteral("m_foreColor=4278255360");
        QTest::newRow("back colour")
            << StateCall([](PresenterState &s) { s.setBackColor(QColor(1, 2, 3)); })
            << QStringLiteral("m_backColor=4278256131");
        QTest::newRow("fore opacity") << StateCall([](PresenterState &s) { s.setForeOpacity(77); })
                                      << QStringLiteral("m_foreOpacity=77");
        QTest::newRow("back opacity") << StateCall([](PresenterState &s) { s.setBackOpacity(0); })
                                      << QStringLiteral("m_backOpacity=0");
        QTest::newRow("scale rate 2.5") << StateCall([](PresenterState &s) { s.setScaleRate(2.5); })
                                        << QStringLiteral("m_scaleRate=2.5");
        QTest::newRow("scale rate 3.0") << StateCall([](PresenterState &s) { s.setScaleRate(3.0); })
                                        << QStringLiteral("m_scaleRate=3");
        QTest::newRow("mouse speed") << StateCall([](PresenterState &s) { s.setMouseSpeed(0.75); })
                                     << QStringLiteral("m_speed=0.75");
        QTest::newRow("size in the normal mode")
            << StateCall([](PresenterState &s) { s.setCursorSize(33); }) << QString();
        QTest::newRow("black screen key")
            << StateCall([](PresenterState &s) { s.handleKeys(KeyBlackScreen); })
            << QStringLiteral("m_curMode=4");
        QTest::newRow("effect key held and let go") << StateCall([](PresenterState &s) {
            s.handleKeys(KeyEffectHeld);
            s.handleKeys(0);
        }) << QString();
        QTest::newRow("effect key lock chosen")
            << StateCall([](PresenterState &s) { s.setEffectKeyLocks(true); })
            << QStringLiteral("effectKeyLocks=true");
        QTest::newRow("black screen chosen without the key")
            << StateCall([](PresenterState &s) { s.selectBlackScreen(); })
            << QStringLiteral("m_curMode=4");
        QTest::newRow("shown and hidden without the key") << StateCall([](PresenterState &s) {
            s.show();
            s.hide();
        }) << QString();
        QTest::newRow("normal mode selected again")
            << StateCall([](PresenterState &s) { s.selectMode(ModeNormal); })
            << QStringLiteral("m_foreColor=4294901760");
    }
    void changesReachOverlayAndFile()
    {
        QFETCH(StateCall, call);
        QFETCH(QString, line);
        PresenterState &state = makeState();
        call(state);
        if (line.isEmpty())
            QVERIFY(!QFile::exists(m_path));
        else
            QCOMPARE(fileText(), QStringLiteral("[General]\n%1\n").arg(line));
        // Repeating the same change writes nothing more.
        const int writes = m_store->writeCount();
        call(state);
        QCOMPARE(m_store->writeCount(), writes);
    }

    // The stored mode is the overlay's: written after the overlay took the new mode (and
    // showed it), only when it changes, the black screen as 4.
    void modeIsStoredAfterTheOverlayTookIt()
    {
        PresenterState &state = makeState("[General]\nm_curMode=2\n");
        QCOMPARE(state.mode(), int(ModeLaser));
        QStringList seen;
        connect(&state, &PresenterState::overlayMode, this, [&](ScreenMode mode) {
            seen << QStringLiteral("%1 %2").arg(mode).arg(fileText());
        });
        state.selectMode(ModeLaser);      // already the overlay's mode
        state.handleKeys(KeyBlackScreen); // the overlay goes black, the selection stays
        state.handleKeys(KeyBlackScreen);
        state.handleKeys(KeyModeSwitch); // laser -> magnifier
        QCOMPARE(state.mode(), int(ModeMagnifier));
        // Selecting a mode also sends (and stores) the fore colour, before the mode.
        // Each key event also stores the size of the selected mode.
        const QString fore = QStringLiteral("m_foreColor=4294901760\n");
        const QString laser = QStringLiteral("m_laserSize=10\n");
        QCOMPARE(seen, (QStringList{"2 [General]\nm_curMode=2\n" + fore,
                                    "4 [General]\nm_curMode=2\n" + fore,
                                    "4 [General]\nm_curMode=4\n" + fore + laser,
                                    "3 [General]\nm_curMode=4\n" + fore + laser}));
        QVERIFY(fileText().contains(QStringLiteral("m_curMode=3\n")));
    }

    // Holding the effect key (twenty events a second) writes nothing; the lens gets one fresh
    // capture per press; a dongle that goes away lets go of what it held.
    void holdingTheEffectKey()
    {
        PresenterState &state = makeState("[General]\nm_curMode=3\nm_magnifierSize=70\n");
        const int writesBefore = m_store->writeCount();
        QSignalSpy shows(&state, &PresenterState::overlayShow);
        QSignalSpy captures(&state, &PresenterState::overlayRecapture);
        for (int i = 0; i < 200; ++i)
            state.handleKeys(KeyEffectHeld);
        QCOMPARE(m_store->writeCount(), writesBefore);
        QCOMPARE(captures.count(), 1);
        QCOMPARE(shows.count(), 200);
        QCOMPARE(shows.last().first().toBool(), true);

        state.releaseKeys();
        QCOMPARE(shows.last().first().toBool(), false);
        QCOMPARE(state.mode(), int(ModeMagnifier));
        state.handleKeys(KeyEffectHeld);
        QCOMPARE(captures.count(), 2);
        state.hide();
        state.show();
        QCOMPARE(captures.count(), 3);
    }

    // One shown state: the effect key's presses and releases and show(), hide() and toggle()
    // set and clear it, the last one winning; events without a press or a release leave it.
    // With the lock a press switches it. The dongle's loss hides what its key showed only.
    void oneShownState_data()
    {
        QTest::addColumn<QByteArray>("file");
        // k: an event with the effect key down, u: one without it, s: show(), h: hide(),
        // t: toggle(), l: the dongle is lost
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("shown"); // after each step
        const QByteArray locks("[General]\neffectKeyLocks=true\n");
        QTest::newRow("held and let go") << QByteArray() << "kku" << "110";
        QTest::newRow("shown stays through key events") << QByteArray() << "suu" << "111";
        QTest::newRow("hidden while held: until the next press") << QByteArray() << "khkuk"
                                                                 << "10001";
        QTest::newRow("release after show hides") << QByteArray() << "ksu" << "110";
        QTest::newRow("toggle twice") << QByteArray() << "tt" << "10";
        QTest::newRow("dongle lost while held") << QByteArray() << "kl" << "10";
        QTest::newRow("dongle lost after show") << QByteArray() << "sl" << "11";
        QTest::newRow("lock: press on, press off") << locks << "kukuu" << "11000";
        QTest::newRow("lock: dongle lost") << locks << "kul" << "110";
        QTest::newRow("lock: press after show") << locks << "sku" << "100";
        QTest::newRow("lock not a bool: off") << QByteArray("[General]\neffectKeyLocks=1\n")
                                              << "ku" << "10";
    }
    void oneShownState()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, steps);
        PresenterState &state = makeState(file);
        QSignalSpy shows(&state, &PresenterState::overlayShow);
        QString seen;
        for (const QChar step : steps) {
            switch (step.toLatin1()) {
            case 'k': state.handleKeys(KeyEffectHeld); break;
            case 'u': state.handleKeys(0); break;
            case 's': state.show(); break;
            case 'h': state.hide(); break;
            case 't': state.toggle(); break;
            case 'l': state.onUpdateHidStatus(HidDisconnected, 0); break;
            }
            seen += state.isShown() ? '1' : '0';
            // The overlay is told what is shown with every step.
            QCOMPARE(shows.last().first().toBool(), state.isShown());
        }
        QTEST(seen, "shown");
    }

    // Stored values outside a control's range come back inside it; values inside stay.
    void storedValuesAreBroughtIntoRange_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("foreOpacity");
        QTest::addColumn<int>("backOpacity");
        QTest::addColumn<double>("scale");
        QTest::newRow("inside") << QByteArray(
                                       "[General]\nm_curMode=2\nm_laserSize=30\n"
                                       "m_foreOpacity=0\nm_backOpacity=255\nm_scaleRate=1.5\n")
                                << 2 << 30 << 0 << 255 << 1.5;
        QTest::newRow("beyond int")
            << QByteArray("[General]\nm_curMode=2\nm_laserSize=-2147483649\n"
                          "m_foreOpacity=300\nm_backOpacity=-1\nm_scaleRate=9\n")
            << 2 << 10 << 255 << 0 << 4.0;
        QTest::newRow("smallest int")
            << QByteArray("[General]\nm_curMode=1\nm_spotSize=-2147483648\n"
                          "m_scaleRate=0.5\n")
            << 1 << 10 << 200 << 200 << 1.5;
        QTest::newRow("black screen and nan")
            << QByteArray("[General]\nm_curMode=4\nm_spotSize=500\nm_scaleRate=nan\n") << 0 << 200
            << 200 << 200 << 2.0;
    }
    void storedValuesAreBroughtIntoRange()
    {
        QFETCH(QByteArray, file);
        const PresenterState &state = makeState(file);
        const EffectSettings effect = state.effectSettings();
        QTEST(int(effect.mode), "mode");
        QTEST(effect.cursorSize, "size");
        QTEST(effect.foreOpacity, "foreOpacity");
        QTEST(effect.backOpacity, "backOpacity");
        QTEST(effect.scaleRate, "scale");
        QVERIFY(!m_store->writeCount());
    }

    // Mode key and size keys without any window: the mode steps round, each mode keeps its
    // size, the size keys stay within 10..200 and a bounced key is dropped whole.
    void keyRules()
    {
        PresenterState &state = makeState("[General]\nm_spotSize=190\nm_laserSize=10\n");
        QSignalSpy sizes(&state, &PresenterState::overlayCursorSize);
        QSignalSpy shows(&state, &PresenterState::overlayShow);
        QList<int> modes;
        for (int i = 0; i < 5; ++i) {
            state.handleKeys(KeyModeSwitch);
            modes << state.mode();
        }
        QCOMPARE(modes, (QList<int>{1, 2, 3, 0, 1}));
        QCOMPARE(sizes.at(0).first().toInt(), 190);
        QCOMPARE(sizes.at(1).first().toInt(), 10);
        QCOMPARE(sizes.at(2).first().toInt(), 50);
        QCOMPARE(sizes.at(3).first().toInt(), 50); // the normal mode keeps the size shown

        sizes.clear();
        m_now += 100;
        state.handleKeys(KeySizeUp);
        m_now += 40; // bounce: dropped, not even shown or hidden
        state.handleKeys(KeySizeUp | KeyEffectHeld);
        m_now += 60;
        state.handleKeys(KeySizeUp);
        QCOMPARE(sizes.count(), 1);
        QCOMPARE(sizes.first().first().toInt(), 200);
        QCOMPARE(shows.count(), 5 + 2);
        QVERIFY(fileText().contains(QStringLiteral("m_spotSize=200\n")));
    }

    // Without a magnifier that can work: the mode key leaves it out, it cannot be selected, and
    // a stored magnifier gives way to the normal mode without touching the file.
    void magnifierLeftOutWhenUnavailable_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QList<int>>("modes"); // after the change, then after each mode key
        QTest::newRow("no file") << QByteArray() << QList<int>{0, 1, 2, 0, 1};
        QTest::newRow("stored laser")
            << QByteArray("[General]\nm_curMode=2\n") << QList<int>{2, 0, 1, 2, 0};
        QTest::newRow("stored magnifier")
            << QByteArray("[General]\nm_curMode=3\n") << QList<int>{0, 1, 2, 0, 1};
    }
    void magnifierLeftOutWhenUnavailable()
    {
        QFETCH(QByteArray, file);
        QFETCH(QList<int>, modes);
        PresenterState &state = makeState(file);
        QSignalSpy changed(&state, &PresenterState::modeChanged);
        QSignalSpy commanded(&state, &PresenterState::overlayMode);
        state.setMagnifierAvailable(false);
        QCOMPARE(fileText(), QString::fromUtf8(file));
        const bool movedOn = file.contains("m_curMode=3");
        QCOMPARE(changed.count(), movedOn ? 1 : 0);
        QCOMPARE(commanded.count(), movedOn ? 1 : 0);
        state.selectMode(ModeMagnifier);
        QList<int> seen{state.mode()};
        for (int i = 0; i < 4; ++i) {
            state.handleKeys(KeyModeSwitch);
            seen << state.mode();
        }
        QCOMPARE(seen, modes);
        QVERIFY(!fileText().contains(QStringLiteral("m_curMode=3")));
    }
};

QTEST_GUILESS_MAIN(TestPresenterState)
#include "tst_presenterstate.moc"
