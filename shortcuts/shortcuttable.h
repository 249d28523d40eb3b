#pragma once

#include "settings/settingsstore.h"

#include <QKeySequence>
#include <QString>

#include <array>
#include <optional>

// The presenter's actions that keyboard shortcuts can run, and the table of their key
// combinations as the settings file keeps it under [Shortcuts], one key combination per action
// in QKeySequence's portable text. None is bound by default.
namespace Shortcuts {

enum Action : int {
    ShowWhileHeld = 0, // the effect shows while the key is held
    Toggle,
    NextEffect, // as the presenter's mode key
    BlackScreen,
    SizeUp,
    SizeDown,
    ActionCount
};

// One key combination per action; an empty sequence: not bound.
using Table = std::array<QKeySequence, ActionCount>;

const SettingKey<StoredText> &settingKey(Action action);
// The action's key in the [Shortcuts] group ("showWhileHeld").
QString keyName(Action action);
// The action whose key name that is.
std::optional<Action> actionNamed(const QString &name);

// One key combination (modifiers and one key) from portable text. An empty text gives an
// empty sequence; text that is no such combination (an unknown key name, modifiers alone,
// more than one combination) gives none.
std::optional<QKeySequence> parse(const QString &text);

// The table as stored. A value that does not parse gets one line on standard error naming its
// key, and the action stays unbound.
Table read(const SettingsStore &store);
void write(SettingsStore &store, Action action, const QKeySequence &keys);

bool isEmpty(const Table &table);

// The first combination of `keys` as one number: the key and its modifiers (Qt::Key |
// Qt::KeyboardModifier); 0 for an empty sequence.
int combined(const QKeySequence &keys);

} // namespace Shortcuts
