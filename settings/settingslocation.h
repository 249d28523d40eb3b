#pragma once

#include <QString>

// Where the settings file lives and whether it may be touched. This decides only the path and
// the verdict on what is found there; reading and writing the INI text is the store's job.
namespace SettingsLocation {

// ./Kavri.ini when the working directory has an entry of that name (of any kind, as lstat
// sees it), otherwise $XDG_CONFIG_HOME/kavri/Kavri.ini (default ~/.config/kavri/Kavri.ini, the
// home as UserHome::current() gives it). Empty when there is neither a configuration folder
// nor a home.
QString filePath();

enum class Verdict { Usable, Absent, Refused };

struct Access
{
    Verdict verdict;
    QString warning; // non-empty: print it once on stderr
};

// Inspects `path` without opening it (lstat/stat; never blocks). Usable: a regular file,
// directly or through a symlink when both the link and the file it reaches are owned by the
// running user. Absent: nothing there (it may be created). Refused: FIFO, device, directory,
// socket, another user's file or link, a link to a missing path. A regular file over 1 MiB is
// renamed aside to "<path>.corrupt-<date>" and reported Absent, with a warning.
Access inspect(const QString &path);

// Creates the folder of `path` (with parents) before the first write; false on failure.
bool makeFolder(const QString &path);

// Files larger than this are not Kavri settings files.
constexpr qint64 MaxFileSize = 1024 * 1024;

} // namespace SettingsLocation
