#include "app/overlaywiring.h"
#include "presenter/screenmode.h"

#include <QColor>
#include <QStringList>
#include <QtTest>

// The wiring template is checked against stand-ins with the settings window's eleven signals
// and the overlay's ten slots: each signal must reach the slot of the same meaning, with its
// value, once; SetLanguage must stay unconnected.
class WiringDialog : public QObject
{
    Q_OBJECT
signals:
    void setMode(ScreenMode mode);
    void showMode(bool enable);
    void setForeColor(QColor color);
    void setBackColor(QColor color);
    void setForeOpacity(int opacity);
    void setBackOpacity(int opacity);
    void setCursorSize(int size);
    void SetRepaint();
    void setScaleRate(double scale);
    void setMouseSpeed(double speed);
    void SetLanguage(int index);
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
    void onSetMouseSpeed(double s) { calls << QStringLiteral("speed %1").arg(s); }
};

class TestOverlayWiring : public QObject
{
    Q_OBJECT

private slots:
    void eachSignalReachesItsSlot()
    {
        WiringDialog dialog;
        RecordingOverlay overlay;
        OverlayWiring::connectSignals(&dialog, &overlay);

        emit dialog.setMode(ModeLaser);
        emit dialog.showMode(true);
        emit dialog.setForeColor(QColor(1, 2, 3));
        emit dialog.setBackColor(QColor(4, 5, 6));
        emit dialog.setForeOpacity(11);
        emit dialog.setBackOpacity(22);
        emit dialog.setCursorSize(33);
        emit dialog.SetRepaint();
        emit dialog.setScaleRate(2.5);
        emit dialog.setMouseSpeed(0.75);
        emit dialog.SetLanguage(3);

        // Same thread, so every slot ran inside its emission, in emission order.
        const QStringList expected{
            "mode 2",         "show 1",  "fore #010203", "back #040506", "foreOpacity 11",
            "backOpacity 22", "size 33", "repaint",      "scale 2.5",    "speed 0.75"};
        QCOMPARE(overlay.calls, expected);
        // disconnect() answers whether there was anything to cut.
        QVERIFY(!QObject::disconnect(&dialog, &WiringDialog::SetLanguage, nullptr, nullptr));
        QVERIFY(QObject::disconnect(&dialog, &WiringDialog::setMouseSpeed, nullptr, nullptr));
    }
};

QTEST_GUILESS_MAIN(TestOverlayWiring)
#include "tst_overlaywiring.moc"
