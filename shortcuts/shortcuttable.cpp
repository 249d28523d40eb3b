#include "shortcuts/shortcuttable.h"

#include "shortcuts/shortcutslog.h"

namespace Shortcuts {

const SettingKey<StoredText> &settingKey(Action action)
{
    static const std::array<const SettingKey<StoredText> *, ActionCount> keys = {
        &SettingsKeys::ShortcutShowWhileHeld, &SettingsKeys::ShortcutToggle,
        &SettingsKeys::ShortcutNextEffect,    &SettingsKeys::ShortcutBlackScreen,
        &SettingsKeys::ShortcutSizeUp,        &SettingsKeys::ShortcutSizeDown,
    };
    return *keys.at(action);
}

QString keyName(Action action)
{
    return QString::fromLatin1(settingKey(action).name).section(QLatin1Char('/'), -1);
}

std::optional<Action> actionNamed(const QString &name)
{
    for (int a = 0; a < ActionCount; ++a)
        if (keyName(Action(a)) == name)
            return Action(a);
    return std::nullopt;
}

std::optional<QKeySequence> parse(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return QKeySequence();
    const QKeySequence keys = QKeySequence::fromString(trimmed, QKeySequence::PortableText);
    if (keys.count() != 1)
        return std::nullopt;
    const int key = combined(keys) & ~int(Qt::KeyboardModifierMask);
    if (key == 0 || key == Qt::Key_unknown || key == Qt::Key_Shift || key == Qt::Key_Control ||
        key == Qt::Key_Alt || key == Qt::Key_Meta || key == Qt::Key_AltGr)
        return std::nullopt;
    // QKeySequence takes some text it does not understand for a key of that name's first
    // letter ("Ctrl+Foo"); what it would write back has to be what was written.
    if (keys.toString(QKeySequence::PortableText).compare(trimmed, Qt::CaseInsensitive) != 0)
        return std::nullopt;
    return keys;
}

Table read(const SettingsStore &store)
{
    Table table;
    for (int a = 0; a < ActionCount; ++a) {
        const QString text = store.value(settingKey(Action(a)));
        const std::optional<QKeySequence> keys = parse(text);
        if (keys) {
            table[a] = *keys;
            continue;
        }
        qCWarning(lcShortcuts,
                  "Kavri: the shortcut %s in Kavri.ini, \"%s\", is no key combination Kavri "
                  "knows; it is ignored.",
                  qPrintable(keyName(Action(a))), qPrintable(text));
    }
    return table;
}

void write(SettingsStore &store, Action action, const QKeySequence &keys)
{
    store.setValue(settingKey(action), keys.toString(QKeySequence::PortableText));
}

bool isEmpty(const Table &table)
{
    for (const QKeySequence &keys : table)
        if (!keys.isEmpty())
            return false;
    return true;
}

int combined(const QKeySequence &keys)
{
    if (keys.isEmpty())
        return 0;
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return keys[0].toCombined();
#else
    return keys[0];
#endif
}

} // namespace Shortcuts
