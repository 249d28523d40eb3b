#include "ui/xwindow.h"

#include "common/kavriresources.h"
#include "common/workdir.h"

#include <QDialog>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <QtTest>

// Opens the frame's protected parts to the test.
class FrameUnderTest final : public XWindow
{
public:
    using XWindow::closeButton;
    using XWindow::eventFilter;
    using XWindow::maximizeButton;
    using XWindow::minimizeButton;
    using XWindow::titleBar;
    using XWindow::titleIconLabel;
    using XWindow::titleTextLabel;
};

namespace {

// Sends a move with the button held, the way the pointer grab delivers it: to the widget
// that took the press, in that widget's coordinates.
void dragTo(QWidget *grabber, const QPoint &global)
{
    QMouseEvent move(QEvent::MouseMove, grabber->mapFromGlobal(global), global, Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(grabber, &move);
}

// Presses like a user would: on whichever widget lies under `pos` (window coordinates).
QWidget *pressAt(QWidget *window, const QPoint &pos, Qt::MouseButton button)
{
    QWidget *target = window->childAt(pos);
    if (!target)
        target = window;
    QTest::mousePress(target, button, Qt::NoModifier, target->mapFrom(window, pos));
    return target;
}

QPoint centreOf(const QWidget *child, const QWidget *window)
{
    return child->mapTo(window, child->rect().center());
}

} // namespace

class TestXWindow : public QObject
{
    Q_OBJECT

private:
    KavriTest::WorkDir m_workDir;

    static void showAt(QWidget *w, const QRect &geometry)
    {
        w->setGeometry(geometry);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
    }

private slots:
    void initTestCase() { initKavriResources(); }
    void init() { QVERIFY(m_workDir.enter()); }
    void cleanup() { m_workDir.leave(); }

    void frameIsBuilt()
    {
        FrameUnderTest w;
        QVERIFY(w.isWindow());
        QCOMPARE(w.windowType(), Qt::Window);
        QCOMPARE(int(w.windowFlags() & ~Qt::WindowType_Mask), 0xE800);
        QCOMPARE(QString::fromLatin1(w.metaObject()->className()), QStringLiteral("XWindow"));

        QCOMPARE(w.titleBar->objectName(), QStringLiteral("widget_background"));
        QCOMPARE(w.findChild<QLabel *>(QStringLiteral("titleIconLabel")), w.titleIconLabel);
        QCOMPARE(w.findChild<QLabel *>(QStringLiteral("titleTextLabel")), w.titleTextLabel);
        QCOMPARE(w.findChild<QPushButton *>(QStringLiteral("minimizeButton")), w.minimizeButton);
        QCOMPARE(w.findChild<QPushButton *>(QStringLiteral("maximizeButton")), w.maximizeButton);
        QCOMPARE(w.findChild<QPushButton *>(QStringLiteral("closeButton")), w.closeButton);

        QCOMPARE(w.minimizeButton->text(), QStringLiteral("-"));
        QCOMPARE(w.maximizeButton->text(), QStringLiteral("="));
        QCOMPARE(w.closeButton->text(), QStringLiteral("X"));
        QCOMPARE(w.minimizeButton->toolTip(), QStringLiteral("Min"));
        QCOMPARE(w.maximizeButton->toolTip(), QStringLiteral("Max"));
        QCOMPARE(w.closeButton->toolTip(), QStringLiteral("Close"));

        QCOMPARE(w.titleTextLabel->font().family(), QStringLiteral("微软雅黑"));
        QCOMPARE(w.titleTextLabel->font().pointSize(), 11);
        QCOMPARE(w.titleIconLabel->size(), QSize(13, 1));
        QVERIFY(w.titleIconLabel->pixmap(Qt::ReturnByValue).isNull());
    }

    void titleBarFollowsTheWidth_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("dialog") << QSize(620, 662);
        QTest::newRow("narrow") << QSize(200, 120);
        QTest::newRow("wide") << QSize(900, 300);
    }
    void titleBarFollowsTheWidth()
    {
        QFETCH(QSize, size);
        FrameUnderTest w;
        showAt(&w, QRect(QPoint(40, 40), size));
        // A second resize after showing, as the user or the maximise toggle would cause.
        w.resize(size.width() + 10, size.height());
        QCoreApplication::processEvents();
        w.titleBar->layout()->activate();

        const int width = size.width() + 10;
        QCOMPARE(w.titleBar->geometry(), QRect(0, 0, width, 30));
        QCOMPARE(w.closeButton->geometry(), QRect(width - 30, 0, 30, 30));
        QCOMPARE(w.maximizeButton->geometry(), QRect(width - 60, 0, 30, 30));
        QCOMPARE(w.minimizeButton->geometry(), QRect(width - 90, 0, 30, 30));
        // 1 pixel, the 13-pixel icon place, 5 pixels, then the text up to the buttons.
        QCOMPARE(w.titleTextLabel->geometry(), QRect(19, 0, width - 19 - 90, 30));
    }

    void dragByTheTitle()
    {
        FrameUnderTest w;
        showAt(&w, QRect(100, 100, 400, 300));
        const QPoint start = w.pos();

        const QPoint grab(60, 12);
        QWidget *grabber = pressAt(&w, grab, Qt::LeftButton);
        QCOMPARE(grabber, w.titleTextLabel);
        const QPoint grabGlobal = w.mapToGlobal(grab);

        dragTo(grabber, grabGlobal + QPoint(37, 21));
        QCOMPARE(w.pos(), start + QPoint(37, 21));
        dragTo(grabber, grabGlobal + QPoint(-50, 80));
        QCOMPARE(w.pos(), start + QPoint(-50, 80));
        // The grabbed point stays under the pointer.
        QCOMPARE(w.mapToGlobal(grab), grabGlobal + QPoint(-50, 80));

        QTest::mouseRelease(grabber, Qt::LeftButton, Qt::NoModifier,
                            grabber->mapFromGlobal(grabGlobal + QPoint(-50, 80)));
        const QPoint dropped = w.pos();
        dragTo(grabber, grabGlobal + QPoint(200, 200));
        QCOMPARE(w.pos(), dropped);
    }

    void pressesThatDoNotDrag_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<int>("button");
        QTest::newRow("right on title") << "title" << int(Qt::RightButton);
        QTest::newRow("middle on title") << "title" << int(Qt::MiddleButton);
        QTest::newRow("left on minimise") << "minimizeButton" << int(Qt::LeftButton);
        QTest::newRow("left on maximise") << "maximizeButton" << int(Qt::LeftButton);
        QTest::newRow("left on close") << "closeButton" << int(Qt::LeftButton);
        QTest::newRow("left on icon place") << "icon" << int(Qt::LeftButton);
        QTest::newRow("left below the bar") << "body" << int(Qt::LeftButton);
    }
    void pressesThatDoNotDrag()
    {
        QFETCH(QString, where);
        QFETCH(int, button);
        FrameUnderTest w;
        showAt(&w, QRect(100, 100, 400, 300));
        const QPoint start = w.pos();

        QPoint pos;
        if (where == QLatin1String("title"))
            pos = QPoint(60, 12);
        else if (where == QLatin1String("icon"))
            pos = QPoint(7, 15);
        else if (where == QLatin1String("body"))
            pos = QPoint(60, 150);
        else
            pos = centreOf(w.findChild<QPushButton *>(where), &w);

        QWidget *grabber = pressAt(&w, pos, Qt::MouseButton(button));
        dragTo(grabber, w.mapToGlobal(pos) + QPoint(30, 30));
        QCOMPARE(w.pos(), start);
        // Leave the buttons unpressed so closing or minimising does not run on release.
        if (qobject_cast<QPushButton *>(grabber))
            static_cast<QPushButton *>(grabber)->setDown(false);
    }

    void maximiseAndRestore_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("button") << "button";
        QTest::newRow("double-click") << "double-click";
        QTest::newRow("double-click, button hidden") << "hidden";
    }
    void maximiseAndRestore()
    {
        QFETCH(QString, how);
        FrameUnderTest w;
        const QRect normal(120, 90, 420, 310);
        showAt(&w, normal);
        if (how == QLatin1String("hidden"))
            w.setTitleButtons(1);
        const auto toggle = [&] {
            if (how == QLatin1String("button"))
                QTest::mouseClick(w.maximizeButton, Qt::LeftButton);
            else
                QTest::mouseDClick(w.titleTextLabel, Qt::LeftButton, Qt::NoModifier,
                                   QPoint(30, 10));
        };

        toggle();
        const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(w.geometry(), available);
        QCOMPARE(w.maximizeButton->toolTip(), QStringLiteral("Restore"));
        QCOMPARE(w.maximizeButton->text(), QStringLiteral("="));
        // Qt's own maximised state is left alone.
        QVERIFY(!w.isMaximized());

        // While maximised, the title does not drag.
        QWidget *grabber = pressAt(&w, QPoint(60, 12), Qt::LeftButton);
        dragTo(grabber, w.mapToGlobal(QPoint(60, 12)) + QPoint(25, 25));
        QTest::mouseRelease(grabber, Qt::LeftButton);
        QCOMPARE(w.geometry(), available);

        toggle();
        QCOMPARE(w.geometry(), normal);
        QCOMPARE(w.maximizeButton->toolTip(), QStringLiteral("Max"));
        QCOMPARE(w.maximizeButton->text(), QStringLiteral("="));
    }

    void maximiseKeepsSizeLimits()
    {
        FrameUnderTest w;
        w.setMaximumSize(500, 400);
        showAt(&w, QRect(50, 60, 300, 200));
        QTest::mouseClick(w.maximizeButton, Qt::LeftButton);
        QCOMPARE(w.size(), QSize(500, 400));
        QTest::mouseClick(w.maximizeButton, Qt::LeftButton);
        QCOMPARE(w.geometry(), QRect(50, 60, 300, 200));
    }

    void doubleClickIsConsumed()
    {
        FrameUnderTest w;
        QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(5, 5),
                        QPointF(w.mapToGlobal(QPoint(5, 5))), Qt::LeftButton, Qt::LeftButton,
                        Qt::NoModifier);
        QVERIFY(w.eventFilter(w.titleTextLabel, &dbl));
        QCOMPARE(w.maximizeButton->toolTip(), QStringLiteral("Restore"));
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5),
                          QPointF(w.mapToGlobal(QPoint(5, 5))), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QVERIFY(!w.eventFilter(w.titleTextLabel, &press));
        QCOMPARE(w.maximizeButton->toolTip(), QStringLiteral("Restore"));
    }

    void ignoredKeys_data()
    {
        QTest::addColumn<int>("key");
        QTest::newRow("Return") << int(Qt::Key_Return);
        QTest::newRow("Enter") << int(Qt::Key_Enter);
        QTest::newRow("Space") << int(Qt::Key_Space);
    }
    void ignoredKeys()
    {
        QFETCH(int, key);
        FrameUnderTest w;
        auto *ok = new QPushButton(QStringLiteral("OK"), &w);
        ok->setDefault(true);
        showAt(&w, QRect(100, 100, 300, 200));
        QSignalSpy rejected(&w, &QDialog::rejected);
        QSignalSpy clicked(ok, &QPushButton::clicked);

        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(&w, &press);
        QCOMPARE(rejected.count(), 0);
        QCOMPARE(clicked.count(), 0);
        QVERIFY(w.isVisible());
        QCOMPARE(w.result(), 0);

        // The same key does act on a plain dialog, so the check above can tell.
        QDialog plain;
        auto *plainOk = new QPushButton(QStringLiteral("OK"), &plain);
        plainOk->setDefault(true);
        showAt(&plain, QRect(100, 100, 300, 200));
        QSignalSpy plainRejected(&plain, &QDialog::rejected);
        QSignalSpy plainClicked(plainOk, &QPushButton::clicked);
        QKeyEvent again(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(&plain, &again);
        if (key != Qt::Key_Space)
            QCOMPARE(plainClicked.count(), 1);
    }

    // Escape does what the close button does: the window closes (a subclass decides what
    // closing means), and the default button is not pressed.
    void escapeActsAsCloseButton()
    {
        FrameUnderTest w;
        auto *ok = new QPushButton(QStringLiteral("OK"), &w);
        ok->setDefault(true);
        showAt(&w, QRect(100, 100, 300, 200));
        QSignalSpy clicked(ok, &QPushButton::clicked);
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(&w, &escape);
        QVERIFY(!w.isVisible());
        QCOMPARE(clicked.count(), 0);

        showAt(&w, QRect(100, 100, 300, 200));
        w.closeButton->click();
        QVERIFY(!w.isVisible());
    }

    void otherKeysReachTheDialog()
    {
        FrameUnderTest w;
        showAt(&w, QRect(100, 100, 300, 200));
        // QDialog passes unhandled keys on by ignoring them; the frame does the same.
        QKeyEvent letter(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
        QApplication::sendEvent(&w, &letter);
        QVERIFY(!letter.isAccepted());
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(&w, &escape);
        QVERIFY(escape.isAccepted());
    }

    void titleButtons_data()
    {
        QTest::addColumn<int>("mask");
        QTest::addColumn<bool>("close");
        QTest::addColumn<bool>("max");
        QTest::addColumn<bool>("min");
        QTest::newRow("0") << 0 << false << false << false;
        QTest::newRow("1 close only") << 1 << true << false << false;
        QTest::newRow("2 maximise") << 2 << false << true << false;
        QTest::newRow("4 minimise") << 4 << false << false << true;
        QTest::newRow("5") << 5 << true << false << true;
        QTest::newRow("7 all") << 7 << true << true << true;
    }
    void titleButtons()
    {
        QFETCH(int, mask);
        QFETCH(bool, close);
        QFETCH(bool, max);
        QFETCH(bool, min);
        FrameUnderTest w;
        showAt(&w, QRect(100, 100, 300, 200));
        QVERIFY(w.closeButton->isVisible() && w.maximizeButton->isVisible() &&
                w.minimizeButton->isVisible());
        w.setTitleButtons(mask);
        QCOMPARE(w.closeButton->isVisible(), close);
        QCOMPARE(w.maximizeButton->isVisible(), max);
        QCOMPARE(w.minimizeButton->isVisible(), min);
        w.setTitleButtons(7);
        QVERIFY(w.closeButton->isVisible() && w.maximizeButton->isVisible() &&
                w.minimizeButton->isVisible());
    }

    void windowTitleGoesToBoth()
    {
        FrameUnderTest w;
        w.setWindowTitle(QStringLiteral("Presenter setting"));
        QCOMPARE(w.titleTextLabel->text(), QStringLiteral("Presenter setting"));
        QCOMPARE(w.windowTitle(), QStringLiteral("Presenter setting"));
        w.setWindowTitle(QStringLiteral("Einstellungen"));
        QCOMPARE(w.titleTextLabel->text(), QStringLiteral("Einstellungen"));
        QCOMPARE(w.windowTitle(), QStringLiteral("Einstellungen"));
    }

    void closeAndMinimiseButtons()
    {
        FrameUnderTest w;
        // A form laid over the whole window, as the settings window installs after the frame.
        auto *layout = new QVBoxLayout(&w);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(new QWidget(&w));
        showAt(&w, QRect(100, 100, 400, 300));

        const QPoint closeAt = centreOf(w.closeButton, &w);
        QCOMPARE(w.childAt(closeAt), static_cast<QWidget *>(w.closeButton));
        QCOMPARE(w.childAt(centreOf(w.minimizeButton, &w)),
                 static_cast<QWidget *>(w.minimizeButton));

        QTest::mouseClick(w.minimizeButton, Qt::LeftButton);
        QTRY_VERIFY(w.windowState() & Qt::WindowMinimized);
        w.showNormal();

        QSignalSpy finished(&w, &QDialog::finished);
        QTest::mouseClick(w.closeButton, Qt::LeftButton);
        QVERIFY(!w.isVisible());
        QCOMPARE(finished.count(), 1);
    }

    void styleSheetIsTheWindowsOwn()
    {
        QFile file(QStringLiteral(":/Resource/skin.qss"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString sheet = QString::fromUtf8(file.readAll());

        FrameUnderTest w;
        QCOMPARE(w.styleSheet(), sheet);
        QVERIFY(qApp->styleSheet().isEmpty());

        // The sheet takes effect: the settings window's object name picks its background.
        w.setObjectName(QStringLiteral("MainDialog"));
        showAt(&w, QRect(100, 100, 300, 200));
        const QColor styled = w.grab().toImage().pixelColor(150, 150);
        QDialog plain;
        showAt(&plain, QRect(100, 100, 300, 200));
        const QColor unstyled = plain.grab().toImage().pixelColor(150, 150);
        QVERIFY(styled != unstyled);
        // rgba(200, 200, 173, 200): yellowish grey, whatever it is blended with.
        QVERIFY2(styled.blue() < styled.red() - 10 && qAbs(styled.red() - styled.green()) < 4,
                 qPrintable(styled.name()));
    }

    void withoutTheSheetTheWindowIsPlain()
    {
        Q_CLEANUP_RESOURCE(kavri_res);
        const bool gone = !QFile::exists(QStringLiteral(":/Resource/skin.qss"));
        FrameUnderTest w;
        const QString sheet = w.styleSheet();
        Q_INIT_RESOURCE(kavri_res);
        QVERIFY(gone);
        QVERIFY(sheet.isEmpty());
        QCOMPARE(w.titleBar->objectName(), QStringLiteral("widget_background"));
    }
};

QTEST_MAIN(TestXWindow)
#include "tst_xwindow.moc"
