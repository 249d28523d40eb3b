#pragma once

#include <QByteArray>
#include <QString>

class QMenu;

// Kavri's entry in the desktop's autostart folder ($XDG_CONFIG_HOME/autostart, by default
// ~/.config/autostart), which makes desktops that follow the freedesktop Autostart rules start
// Kavri at login. The file's presence is the setting: nothing else records it, so removing the
// file in the desktop's own settings turns it off here too.
class AutostartEntry final
{
public:
    // The file is named after the desktop id of Kavri's menu entry.
    static constexpr char DesktopId[] = "kavri";
    // Seconds desktops that honour it wait before starting Kavri: the tray must be up first.
    static constexpr int StartDelay = 5;

    // `program`: the absolute path the entry starts.
    explicit AutostartEntry(const QString &program);

    QString filePath() const;
    bool isEnabled() const;
    // Writes or removes the file; false when that failed.
    bool setEnabled(bool enabled) const;
    QByteArray entryText() const;

    // Adds the checkable "Start at login" entry for this entry's program to `menu`; its check
    // mark follows the file each time the menu opens.
    void addToMenu(QMenu *menu) const;

private:
    QString m_program;
};
