#pragma once

#include <QObject>
#include <QString>

#include <memory>

class AutostartEntry;
class QAction;
class QMenu;
class QSystemTrayIcon;

// Kavri's icon in the system tray and its menu: "Start at login" (the autostart entry), the
// shortcuts page and "EXIT". It says what the user chose through its signals; it knows nothing of
// the windows.
class Tray final : public QObject
{
    Q_OBJECT

public:
    explicit Tray(const AutostartEntry &autostart, QObject *parent = nullptr);
    ~Tray() override;

    // A warning in a bubble from the icon, where the desktop shows such messages.
    void showWarning(const QString &text);

    QSystemTrayIcon *icon() const { return m_icon; }
    // The shortcuts entry's text, in the window's language.
    void setShortcutsCaption(const QString &text);

signals:
    // A click or double click on the icon.
    void showWindowRequested();
    // The shortcuts entry in the menu.
    void shortcutsRequested();
    // "EXIT" in the menu.
    void exitRequested();

private:
    QSystemTrayIcon *m_icon = nullptr;
    // A menu has no owner among the objects here: a QObject cannot parent a widget.
    const std::unique_ptr<QMenu> m_menu;
    QAction *m_shortcutsAction = nullptr;
    QAction *m_exitAction = nullptr;
};
