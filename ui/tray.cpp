#include "ui/tray.h"

#include "ui/autostartentry.h"

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

Tray::Tray(const AutostartEntry &autostart, QObject *parent)
    : QObject(parent), m_menu(std::make_unique<QMenu>())
{
    m_icon = new QSystemTrayIcon(QIcon(QStringLiteral(":/Resource/logo_min.png")), this);
    autostart.addToMenu(m_menu.get());
    m_shortcutsAction = new QAction(this);
    m_shortcutsAction->setObjectName(QStringLiteral("action_shortcuts"));
    m_menu->addAction(m_shortcutsAction);
    m_exitAction = new QAction(QStringLiteral("EXIT"), this);
    m_menu->addAction(m_exitAction);
    m_icon->setContextMenu(m_menu.get());
    m_icon->setVisible(true);

    connect(m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                // The context menu and a middle click have their own meaning.
                if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger)
                    emit showWindowRequested();
            });
    connect(m_exitAction, &QAction::triggered, this, &Tray::exitRequested);
    connect(m_shortcutsAction, &QAction::triggered, this, &Tray::shortcutsRequested);
}

void Tray::setShortcutsCaption(const QString &text)
{
    m_shortcutsAction->setText(text);
}

Tray::~Tray()
{
    // The icon lets go of its menu before the menu goes.
    delete m_icon;
    m_icon = nullptr;
}

void Tray::showWarning(const QString &text)
{
    if (m_icon->isVisible() && QSystemTrayIcon::supportsMessages())
        m_icon->showMessage(QStringLiteral("Kavri"), text, QSystemTrayIcon::Warning);
}
