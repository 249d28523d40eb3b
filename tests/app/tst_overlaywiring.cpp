#include "app/overlaywiring.h"
#include "presenter/screenmode.h"

#include <QColor>
#include <QStringList>
#include <QtTest>

// The wiring template is checked against stand-ins with the presenter state's ten commands
// (and one signal of its own) and the overlay's ten slots: each command must reach the slot of
// the same meaning, with its value, once; the state's own signal must stay unconnected.
class WiringState : public QObject
{
    Q_OBJECT
signals:
    void overlayMode(ScreenMode mode);
    void overlayShow(bool enable);
    void overlayForeColor(QColor color);
    void overlayBackColor(QColor color);
    void overlayForeOpacity(int opacity);
    void overlayBackOpacity(int opacity);
    void overlayCursorSize(int size);
    void overlayRecapture();
    void overlayScaleRate(double scale);
    void modeChanged(int mode);
};

class RecordingOverlay : public QObject
{
    Q_OBJECT
public:
    QStringList calls;
public slots:
    void onSetMode(ScreenMode mode) { calls << QStringLiteral("mode %1").arg(int(mode)); }
    void onShowMode(bool enable) { calls << QStringLiteral("show %1").arg(enable); }
    void onSetForeColor(QColor c) { calls << QStringLiteral("fore %1").arg(c.name()); }
    void onSetBackColor(QColor c) { calls << QStringLiteral("back %1").arg(c.name()); }
    void onSetForeOpacity(int o) { calls << QStringLiteral("foreOpacity %1").arg(o); }
    void onSetBackOpacity(int o) { calls << QStringLiteral("backOpacity %1").arg(o); }
    void onSetCursorSize(int s) { calls << QStringLiteral("size %1").arg(s); }
    void onSetRepaint() { calls << QStringLiteral("repaint"); }
    void onSetScaleRate(double s) { calls << QStringLiteral("scale %1").arg(s); }
};

class TestOverlayWiring : public QObject
{
    Q_OBJECT

private slots:
    void eachSignalReachesItsSlot()
    {
        WiringState state;
        RecordingOverlay overlay;
        OverlayWiring::connectStateToOverlay(&state, &overlay);

        emit state.overlayMode(ModeLaser);
        emit state.overlayShow(true);
        emit state.overlayForeColor(QColor(1, 2, 3));
        emit state.overlayBackColor(QColor(4, 5, 6));
        emit state.overlayForeOpacity(11);
        emit state.overlayBackOpacity(22);
        emit state.overlayCursorSize(33);
        emit state.overlayRecapture();
        emit state.overlayScaleRate(2.5);
        emit state.modeChanged(3);

        // Same thread, so every slot ran inside its emission, in emission order.
        const QStringList expected{"mode 2",       "show 1",         "fore #010203",
                                   "back #040506", "foreOpacity 11", "backOpacity 22",
                                   "size 33",      "repaint",        "scale 2.5"};
        QCOMPARE(overlay.calls, expected);
        // disconnect() answers whether there was anything to cut.
        QVERIFY(!QObject::disconnect(&state, &WiringState::modeChanged, nullptr, nullptr));
        QVERIFY(QObject::disconnect(&state, &WiringState::overlayScaleRate, nullptr, nullptr));
    }
};

QTEST_GUILESS_MAIN(TestOverlayWiring)
#include "tst_overlaywiring.moc"
