#pragma once

#include "device/hidcontroller.h"
#include "fakedongle.h"

#include <QObject>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QList>
#include <QThread>
#include <QVariant>
#include <QVector>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>

// Shared pieces of the controller suites: a receiver that records what reaches the main
// thread, a compact form of the fake's call log, and a catcher for debug output.

// Records the controller's answers to sleep-time requests as they reach the main thread,
// where the program receives them (a QSignalSpy would record them on the device thread).
class AnswerLog final : public QObject
{
public:
    explicit AnswerLog(HidController *controller)
    {
        connect(controller, &HidController::sleepTimeWritten, this,
                [this](int value, bool accepted) { m_answers.append({value, accepted}); });
    }
    int count() const { return m_answers.size(); }
    QVariantList at(int index) const { return m_answers.at(index); }

private:
    QList<QVariantList> m_answers;
};

// Records every status delivered to it, on the thread it lives on (the main thread), and
// whether any arrived on another thread.
class StatusLog final : public QObject
{
public:
    void onStatus(HidStatus status, int param)
    {
        if (QThread::currentThread() != thread())
            m_offThread = true;
        m_entries.append({status, param});
    }

    // "C" connected, "D" disconnected, "K<param hex>" key event, separated by spaces.
    QString text() const
    {
        QStringList parts;
        for (const auto &e : m_entries) {
            if (e.first == HidConnected)
                parts << QStringLiteral("C");
            else if (e.first == HidDisconnected)
                parts << QStringLiteral("D");
            else
                parts << QStringLiteral("K%1").arg(e.second, 4, 16, QLatin1Char('0'));
        }
        return parts.join(QLatin1Char(' '));
    }
    int count(HidStatus status) const
    {
        int n = 0;
        for (const auto &e : m_entries)
            n += e.first == status ? 1 : 0;
        return n;
    }
    int size() const { return m_entries.size(); }
    bool offThread() const { return m_offThread; }
    QVector<QPair<HidStatus, int>> entries() const { return m_entries; }

private:
    QVector<QPair<HidStatus, int>> m_entries;
    bool m_offThread = false;
};

// Whether the open attempt that starts with the enumeration at log[i] opened a handle: the
// controller enumerates, opens the chosen path if there is one, and frees the list.
inline bool attemptOpened(const std::vector<fakehid::LogEntry> &log, std::size_t i)
{
    return i + 1 < log.size() && log[i + 1].call == fakehid::Call::OpenPath &&
           log[i + 1].result != 0;
}

// The fake's log as tokens: "S" 1000 ms pause, "s" 50 ms pause, "O+"/"O-" an open attempt
// that succeeded or failed, "R+"/"R-" a read that answered (more than one byte) or failed,
// "W" a feature write, "X" a close, "E" hid_exit.
inline std::string tokens(const std::vector<fakehid::LogEntry> &log)
{
    using fakehid::Call;
    std::string out;
    auto add = [&](const std::string &t) { out += out.empty() ? t : " " + t; };
    for (std::size_t i = 0; i < log.size(); ++i) {
        const fakehid::LogEntry &e = log[i];
        if (e.call == Call::Note)
            add(e.text == "sleep 1000" ? "S" : e.text == "sleep 50" ? "s" : e.text);
        else if (e.call == Call::Enumerate)
            add(attemptOpened(log, i) ? "O+" : "O-");
        else if (e.call == Call::GetFeatureReport)
            add(e.result > 1 ? "R+" : "R-");
        else if (e.call == Call::SendFeatureReport)
            add("W");
        else if (e.call == Call::Close)
            add("X");
        else if (e.call == Call::Exit)
            add("E");
    }
    return out;
}

inline std::string readableLog(const std::vector<fakehid::LogEntry> &log)
{
    std::string out;
    for (const fakehid::LogEntry &e : log)
        out += fakehid::toString(e) + "\n";
    return out;
}

// All recorded misuses of the library, one a line (empty when there were none).
inline std::string misuseText(const fakehid::FakeDongle &dongle)
{
    std::string out;
    for (const std::string &m : dongle.misuses())
        out += m + "\n";
    return out;
}

// Whether the whole of `text` matches the regular expression.
inline bool matches(const std::string &text, const std::string &pattern)
{
    const QRegularExpression re(
        QRegularExpression::anchoredPattern(QString::fromStdString(pattern)));
    return re.match(QString::fromStdString(text)).hasMatch();
}

// The statuses the controller owes for the fake's log: C or D for each open attempt, and a
// key event for each read whose answer carried the marker, in the form of StatusLog::text().
inline QString expectedStatuses(const std::vector<fakehid::LogEntry> &log)
{
    QStringList parts;
    for (std::size_t i = 0; i < log.size(); ++i) {
        const fakehid::LogEntry &e = log[i];
        if (e.call == fakehid::Call::Enumerate)
            parts << (attemptOpened(log, i) ? QStringLiteral("C") : QStringLiteral("D"));
        else if (e.call == fakehid::Call::GetFeatureReport && e.result > 1 &&
                 e.text.rfind("fe", 0) == 0)
            parts << QStringLiteral("K") + QString::fromStdString(e.text.substr(2, 2)) +
                         QStringLiteral("fe");
    }
    return parts.join(QLatin1Char(' '));
}

// Pauses shortened by this factor in the fast suites: 1000 ms -> 25 ms, 50 ms -> 1.25 ms.
constexpr int FastDivisor = 40;

// A controller whose pauses are shortened and written into the fake's log as
// "sleep <ms>", with its statuses recorded on the main thread.
inline std::unique_ptr<HidController> makeController(fakehid::FakeDongle &dongle,
                                                     StatusLog &statuses, int divisor = FastDivisor)
{
    auto pacer = std::make_unique<HidPacer>(
        divisor, [&dongle](int ms) { dongle.note("sleep " + std::to_string(ms)); });
    auto controller = std::make_unique<HidController>(std::move(pacer), nullptr);
    QObject::connect(controller.get(), &HidController::updateHidStatus, &statuses,
                     &StatusLog::onStatus);
    return controller;
}

// Opens the fake's gates when a test ends, even on a failed check, so that the
// controller's destructor never waits for a held call.
class GateRelease final
{
public:
    explicit GateRelease(fakehid::FakeDongle &dongle) : m_dongle(dongle) {}
    ~GateRelease() { m_dongle.releaseAll(); }
    GateRelease(const GateRelease &) = delete;
    GateRelease &operator=(const GateRelease &) = delete;

private:
    fakehid::FakeDongle &m_dongle;
};

// Catches qDebug output while it lives.
class DebugCatcher final
{
public:
    DebugCatcher()
    {
        {
            std::lock_guard<std::mutex> lock(mutex());
            messages().clear();
        }
        m_previous = qInstallMessageHandler(&DebugCatcher::handle);
    }
    ~DebugCatcher() { qInstallMessageHandler(m_previous); }
    DebugCatcher(const DebugCatcher &) = delete;
    DebugCatcher &operator=(const DebugCatcher &) = delete;

    QStringList debugMessages() const
    {
        std::lock_guard<std::mutex> lock(mutex());
        return messages();
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext &, const QString &text)
    {
        if (type != QtDebugMsg)
            return;
        std::lock_guard<std::mutex> lock(mutex());
        messages() << text;
    }
    static std::mutex &mutex()
    {
        static std::mutex m;
        return m;
    }
    static QStringList &messages()
    {
        static QStringList list;
        return list;
    }

    QtMessageHandler m_previous = nullptr;
};
