#include "ui/autostartentry.h"

#include "settings/userhome.h"
#include "ui/uilog.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QSaveFile>

#include <algorithm>

namespace {

// An Exec value that names exactly one program path, quoted and escaped as the Desktop Entry
// rules ask when it holds spaces or other reserved characters.
QString execValue(const QString &program)
{
    QString value = program;
    value.replace(QLatin1Char('%'), QStringLiteral("%%"));
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    if (std::any_of(value.begin(), value.end(), [](QChar c) { return reserved.contains(c); })) {
        QString quoted;
        for (QChar c : qAsConst(value)) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
                c == QLatin1Char('\\'))
                quoted += QLatin1Char('\\');
            quoted += c;
        }
        value = QLatin1Char('"') + quoted + QLatin1Char('"');
    }
    // The value is also a string of the file format, whose escape character is the backslash.
    value.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    return value;
}

} // namespace

AutostartEntry::AutostartEntry(const QString &program) : m_program(program) {}

QString AutostartEntry::filePath() const
{
    QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (configHome.isEmpty() || QDir::isRelativePath(configHome)) {
        // Without HOME, the user database's home; never the root folder.
        const QString home = UserHome::current();
        if (home.isEmpty())
            return QString();
        configHome = home + QStringLiteral("/.config");
    }
    return configHome + QStringLiteral("/autostart/") + QLatin1String(DesktopId) +
           QStringLiteral(".desktop");
}

bool AutostartEntry::isEnabled() const
{
    return QFileInfo::exists(filePath());
}

QByteArray AutostartEntry::entryText() const
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Kavri\n"
                          "Comment=Spotlight, laser dot, magnifier and black screen for the "
                          "wireless presenter\n"
                          "Exec=%1\n"
                          "Icon=kavri\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n"
                          "X-GNOME-Autostart-Delay=%2\n"
                          "X-MATE-Autostart-Delay=%2\n"
                          "X-KDE-autostart-after=panel\n")
        // One call: a chained arg() would also replace a "%2" inside the program path.
        .arg(execValue(m_program), QString::number(StartDelay))
        .toUtf8();
}

bool AutostartEntry::setEnabled(bool enabled) const
{
    const QString path = filePath();
    if (path.isEmpty()) // no home to keep it in
        return !enabled;
    if (!enabled)
        return !QFileInfo::exists(path) || QFile::remove(path);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(entryText()) >= 0 && file.commit();
}

void AutostartEntry::addToMenu(QMenu *menu) const
{
    auto *action = menu->addAction(QStringLiteral("Start at login"));
    action->setCheckable(true);
    const AutostartEntry entry = *this;
    action->setChecked(entry.isEnabled());
    QObject::connect(menu, &QMenu::aboutToShow, action,
                     [action, entry] { action->setChecked(entry.isEnabled()); });
    QObject::connect(action, &QAction::triggered, action, [action, entry](bool checked) {
        if (!entry.setEnabled(checked))
            qCWarning(lcUi, "Kavri: could not %s %s", checked ? "write" : "remove",
                      qPrintable(entry.filePath()));
        action->setChecked(entry.isEnabled());
    });
}
