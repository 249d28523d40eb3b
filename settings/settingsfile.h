#pragma once

#include "settings/storedsettings.h"

#include <QColor>

// Access to "./Kavri.ini" in the current working directory. Every call opens the file,
// reads or writes, and closes it again (which saves a write at once); nothing is cached,
// so the overlay and the settings window never see stale values of each other.
namespace SettingsFile {

// One key, one write. Integers, colours (as QColor::rgb(), alpha byte always 0xFF) and
// doubles are written with the value type that decides their text in the file.
void writeInt(const char *key, int value);
void writeColor(const char *key, const QColor &color);
void writeDouble(const char *key, double value);

// Reads an integer key; a missing key gives `defaultValue`, text that is no integer gives 0.
int readInt(const char *key, int defaultValue);

// The settings window's start-up load: mode, colours, opacities, sizes and sleep time
// through one settings object, in that order.
StoredSettings load();

// The stored language index; a missing or unconvertible value gives 0.
int readLanguage();

// Restores a colour from its stored number: only the low 32 bits count, and the result is
// always opaque (a number without an alpha byte, such as 16711680, is opaque red too).
QColor colorFromStored(qlonglong stored);

} // namespace SettingsFile
