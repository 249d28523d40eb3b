#pragma once

#include "settings/settingskeys.h"

#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QVariant>

#include <functional>

// The program's one access to its INI file. The file is read once, when the store is made;
// reads come from what was read then and what was changed since. A change goes to the file at
// once (one write of the file, the rest of it as it is on disk), and only when the value
// differs from what the file holds, so repeating an unchanged value costs nothing and changes
// no byte of the file.
//
// Changes that come in quick succession (a slider dragged, a key held down) are made inside a
// Coalescing scope: such a change is written at once only when the file was not written in the
// last CoalesceMs; otherwise it waits for the end of that time, and the changes that waited
// share one write. flush() writes whatever waits, and the store's end does too.
//
// A write that fails (a full disk, a read-only folder) is not counted as stored: the change
// keeps waiting and is tried again with the next change, and by itself RetryFirstMs after the
// failure, then after twice as long each time, RetryLongestMs at most, until a write succeeds.
// The failure is told once, on standard error and to the failure handler; the write that
// succeeds again is told on standard error and to the recovery handler.
//
// Only a regular file of the user's own is read or written (see SettingsLocation::inspect);
// anything else at the path gives the defaults, no write, and one warning on standard error.
class SettingsStore final
{
public:
    // Shortest time between two writes of changes made inside a Coalescing scope.
    static constexpr qint64 CoalesceMs = 300;
    // The wait before the first retry of a failed write, and the longest wait between retries.
    static constexpr int RetryFirstMs = 1000;
    static constexpr int RetryLongestMs = 30000;

    // Called once per run of failed writes with a sentence that names the file.
    using FailureHandler = std::function<void(const QString &message)>;
    // Called when a write succeeds after a failure was told.
    using RecoveryHandler = std::function<void()>;
    // A monotonic clock in milliseconds.
    using Clock = std::function<qint64()>;

    // While one lives, the store's changes are coalesced (see the class comment).
    class Coalescing final
    {
    public:
        explicit Coalescing(SettingsStore &store) : m_store(store) { ++m_store.m_coalescing; }
        ~Coalescing() { --m_store.m_coalescing; }
        Coalescing(const Coalescing &) = delete;
        Coalescing &operator=(const Coalescing &) = delete;

    private:
        SettingsStore &m_store;
    };

    // The file the program uses: "Kavri.ini" in the working directory when there is one,
    // otherwise the one in the user's configuration folder.
    static QString defaultPath();

    explicit SettingsStore(QString path);
    // Writes what still waits.
    ~SettingsStore();

    SettingsStore(const SettingsStore &) = delete;
    SettingsStore &operator=(const SettingsStore &) = delete;

    const QString &path() const { return m_path; }

    // A missing key gives the key's default; text that is no number gives 0. Values are not
    // checked against any range here. A colour keeps only the low 32 bits of its number and
    // always comes back opaque (16711680, without an alpha byte, is opaque red too).
    int value(const SettingKey<int> &key) const;
    StoredColor value(const SettingKey<StoredColor> &key) const;
    double value(const SettingKey<double> &key) const;
    // "true" and "false" as QSettings writes them; other text gives the default.
    bool value(const SettingKey<bool> &key) const;
    // The text as stored, trimmed; a value QSettings read as a list (it held commas) is joined
    // back with ", ".
    QString value(const SettingKey<StoredText> &key) const;
    // Whether the file held the key when it was read, or the key was set since.
    bool contains(const char *keyName) const;

    void setValue(const SettingKey<int> &key, int value);
    void setValue(const SettingKey<StoredColor> &key, StoredColor value);
    void setValue(const SettingKey<double> &key, double value);
    void setValue(const SettingKey<bool> &key, bool value);
    void setValue(const SettingKey<StoredText> &key, const QString &value);

    // Writes every change that waits now; true when none waits afterwards.
    bool flush();
    bool hasPendingWrites() const { return !m_pending.isEmpty(); }

    void setFailureHandler(FailureHandler handler) { m_failureHandler = std::move(handler); }
    void setRecoveryHandler(RecoveryHandler handler) { m_recoveryHandler = std::move(handler); }
    // Replaces the clock that spaces coalesced writes; an empty clock means the real one.
    void setClock(Clock clock);

    // How many times the file was written successfully since the store was made.
    int writeCount() const { return m_writeCount; }
    // False once the file turned out not to be one Kavri may touch: changes are kept for this
    // run only.
    bool isWritable() const { return m_writable; }

private:
    QVariant stored(const char *key) const;
    void change(const char *key, const QVariant &value);
    bool writePending();
    // Whether the file names every key that waits (after a write that was to store them).
    bool holdsPending() const;
    void reportFailure(const QString &message);
    // After a failed write: the retry timer runs (a retry already waiting keeps its time).
    void scheduleRetry();
    // After a successful write: no retry waits, and a failure that was told is over.
    void reportSuccess();
    // Looks at the file again before a write; false (after one warning) when it may not be
    // written.
    bool mayWrite();

    QString m_path;
    bool m_writable = true;
    // The values as the program sees them, per key.
    QHash<QString, QVariant> m_values;
    // What the file holds, per key, as last read or written.
    QHash<QString, QVariant> m_onDisk;
    // Keys whose value still has to reach the file.
    QSet<QString> m_pending;
    int m_writeCount = 0;
    int m_coalescing = 0;
    bool m_failureTold = false;
    FailureHandler m_failureHandler;
    RecoveryHandler m_recoveryHandler;
    QTimer m_retryTimer;
    int m_retryDelayMs = RetryFirstMs;

    QElapsedTimer m_elapsed;
    Clock m_clock;
    // When the file was last written (or a write last tried); none yet while invalid.
    qint64 m_lastWriteMs = 0;
    bool m_wroteBefore = false;
    QTimer m_flushTimer;
};
