#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP (a `kill`, Ctrl+C in the terminal, the session ending) into
// a normal end of the event loop, so the program tears down in order: the device thread is
// stopped and the single-instance lock released instead of left behind. The signal handler
// only writes a byte to a socket; the quit happens on the main thread.
class TerminationWatcher final : public QObject
{
    Q_OBJECT

public:
    explicit TerminationWatcher(QObject *parent = nullptr);
    // Restores the default handling of the signals it handled.
    ~TerminationWatcher() override;

    bool isWatching() const { return m_notifier != nullptr; }

signals:
    // Emitted on the main thread for each signal caught, before the application is asked
    // to quit.
    void terminationRequested(int signalNumber);

private:
    void onSignalByte();

    QSocketNotifier *m_notifier = nullptr;
    unsigned int m_handled = 0; // bit n: this watcher handles signal n
};
