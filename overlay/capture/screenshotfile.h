#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/types.h>

// The file another process (the desktop portal) names as a screenshot, handled as something
// handed in by someone else: it is examined without following a link and without waiting on
// a FIFO or a device before a byte is read, read through the one descriptor that was
// examined, and deleted only by that same identity.
//
// It knows nothing of pictures: whether the bytes are the screenshot is the caller's call.
class ScreenshotFile final
{
public:
    ScreenshotFile() = default;
    ~ScreenshotFile();
    ScreenshotFile(const ScreenshotFile &) = delete;
    ScreenshotFile &operator=(const ScreenshotFile &) = delete;

    // Opens `path` when it is a regular file of this user's, the last part of its name not a
    // link. Otherwise false, and `why` says what it is ("is a FIFO", ...). Never blocks.
    bool open(const QString &path, QString *why);

    // The whole file, refused (false, `why`) when it holds more than `maxBytes`.
    bool read(qint64 maxBytes, QByteArray *bytes, QString *why);

    // Deletes the file opened when its name lies directly in one of `folders`, reached through
    // no link, and that name still is the file that was read (device and inode). The home
    // folder and the root folder never count as such folders.
    bool removeIfDirectlyIn(const QStringList &folders);

    // Whether `path` names a file directly in one of `folders` (as given, or as the folder's
    // own links resolve), with no link in between.
    static bool isDirectlyIn(const QString &path, const QStringList &folders);

private:
    QString m_path;
    int m_fd = -1;
    dev_t m_device = 0;
    ino_t m_inode = 0;
};
