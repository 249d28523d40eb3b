#include "ui/xwindow.h"

#include "ui/windowplacement.h"

#include <QEvent>
#include <QFile>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>

namespace {

constexpr int kTitleBarHeight = 30;
constexpr int kButtonSize = 30;

// The pointer's place on the desktop, in the same units as the window's pos().
QPoint globalPoint(const QMouseEvent *event)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return event->globalPosition().toPoint();
#else
    return event->globalPos();
#endif
}

} // namespace

XWindow::XWindow(QWidget *parent) : QDialog(parent)
{
    // No window-type bit: the dialog type is dropped, and the window manager draws no frame.
    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint);

    mousePressed = false;
    maximized = false;

    titleBar = new QWidget(this);
    titleBar->setObjectName(QStringLiteral("widget_background"));

    titleIconLabel = new QLabel(this);
    titleTextLabel = new QLabel(this);
    minimizeButton = new QPushButton(this);
    maximizeButton = new QPushButton(this);
    closeButton = new QPushButton(this);

    // Reserves the icon's place; nothing puts a picture there.
    titleIconLabel->setScaledContents(true);
    titleIconLabel->setFixedSize(13, 1);

    QFont titleFont;
    titleFont.setFamily(QStringLiteral("微软雅黑"));
    titleFont.setPointSize(11);
    titleTextLabel->setFont(titleFont);
    titleTextLabel->setFixedHeight(kTitleBarHeight);
    titleTextLabel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    minimizeButton->setFixedSize(kButtonSize, kButtonSize);
    maximizeButton->setFixedSize(kButtonSize, kButtonSize);
    closeButton->setFixedSize(kButtonSize, kButtonSize);

    titleIconLabel->setObjectName(QStringLiteral("titleIconLabel"));
    titleTextLabel->setObjectName(QStringLiteral("titleTextLabel"));
    minimizeButton->setObjectName(QStringLiteral("minimizeButton"));
    maximizeButton->setObjectName(QStringLiteral("maximizeButton"));
    closeButton->setObjectName(QStringLiteral("closeButton"));

    minimizeButton->setToolTip(QStringLiteral("Min"));
    maximizeButton->setToolTip(QStringLiteral("Max"));
    closeButton->setToolTip(QStringLiteral("Close"));
    minimizeButton->setText(QStringLiteral("-"));
    maximizeButton->setText(QStringLiteral("="));
    closeButton->setText(QStringLiteral("X"));

    auto *barLayout = new QHBoxLayout(titleBar);
    barLayout->addSpacing(1);
    barLayout->addWidget(titleIconLabel);
    barLayout->addSpacing(5);
    barLayout->addWidget(titleTextLabel);
    barLayout->addWidget(minimizeButton);
    barLayout->addWidget(maximizeButton);
    barLayout->addWidget(closeButton);
    barLayout->setSpacing(0);
    barLayout->setContentsMargins(0, 0, 0, 0);

    // Double-clicks on the title toggle the maximised state.
    titleTextLabel->installEventFilter(this);

    connect(minimizeButton, &QPushButton::clicked, this, &XWindow::onMinClicked);
    connect(maximizeButton, &QPushButton::clicked, this, &XWindow::onMaxClicked);
    connect(closeButton, &QPushButton::clicked, this, &XWindow::onCloseClicked);

    // The sheet styles this window and its children only, never the overlay.
    QFile sheet(QStringLiteral(":/Resource/skin.qss"));
    if (sheet.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = sheet.readAll();
        setStyleSheet(QString::fromUtf8(bytes.constData(),
                                        int(qstrnlen(bytes.constData(), uint(bytes.size())))));
    }
}

void XWindow::setWindowTitle(const QString &title)
{
    titleTextLabel->setText(title);
    QWidget::setWindowTitle(title);
}

void XWindow::setTitleButtons(int mask)
{
    closeButton->setVisible((mask & 1) != 0);
    maximizeButton->setVisible((mask & 2) != 0);
    minimizeButton->setVisible((mask & 4) != 0);
}

bool XWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonDblClick) {
        onMaxClicked();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void XWindow::mousePressEvent(QMouseEvent *event)
{
    if (titleTextLabel->geometry().contains(event->pos()) && event->button() == Qt::LeftButton) {
        mousePressed = true;
        dragOffset = globalPoint(event) - pos();
        event->accept();
    }
}

void XWindow::mouseReleaseEvent(QMouseEvent *)
{
    mousePressed = false;
}

void XWindow::mouseMoveEvent(QMouseEvent *event)
{
    if (mousePressed && event->buttons() != Qt::NoButton && !maximized) {
        move(globalPoint(event) - dragOffset);
        event->accept();
    }
}

void XWindow::keyPressEvent(QKeyEvent *event)
{
    // Escape does what the close button does (QDialog would reject without closing), and
    // Return/Enter would press the default button of a dialog that has none to press.
    switch (event->key()) {
    case Qt::Key_Escape:
        onCloseClicked();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void XWindow::resizeEvent(QResizeEvent *)
{
    titleBar->setGeometry(0, 0, width(), kTitleBarHeight);
    // A subclass lays its own widgets over the whole window after the bar was made, which
    // stacks them above it; keep the bar on top so its buttons stay reachable.
    titleBar->raise();
}

void XWindow::onCloseClicked()
{
    close();
}

void XWindow::onMaxClicked()
{
    if (maximized) {
        setGeometry(savedGeometry);
        maximizeButton->setText(QStringLiteral("="));
        maximizeButton->setToolTip(QStringLiteral("Max"));
    } else {
        savedGeometry = geometry();
        // The available area of the screen the window is on, not of the primary one.
        if (const QScreen *screen = WindowPlacement::screenOf(this))
            setGeometry(screen->availableGeometry());
        maximizeButton->setText(QStringLiteral("="));
        maximizeButton->setToolTip(QStringLiteral("Restore"));
    }
    maximized = !maximized;
}

void XWindow::onMinClicked()
{
    showMinimized();
}
