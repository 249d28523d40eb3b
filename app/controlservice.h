#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>

class PresenterState;

// Kavri's control interface on the session bus: org.kavri.Kavri, object /org/kavri/Kavri,
// interface org.kavri.Kavri. Scripts, desktop shortcuts and `kavri --show` reach the
// presenter's state through it, with or without the dongle. It holds no state of its own: every
// call goes to the state as the window's mode buttons and the presenter's keys do, and the
// properties read the state. A refused call changes nothing and answers with a D-Bus error.
class ControlService final : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kavri.Kavri")
    // One of none, spotlight, laser, magnifier, black.
    Q_PROPERTY(QString Effect READ effect)
    Q_PROPERTY(bool Shown READ isShown)
    // The chosen effect's size in pixels.
    Q_PROPERTY(int Size READ size)

public:
    // `state` must outlive the service.
    explicit ControlService(PresenterState &state, QObject *parent = nullptr);
    ~ControlService() override;

    // Offers the interface on `bus` under the service name. False, with why(), when the bus is
    // not connected or another program holds the name.
    bool publish(const QDBusConnection &bus);
    // publish() on the session bus; when that fails one line on standard error says that the
    // control interface is not available, and Kavri runs on without it.
    bool publishOnSessionBus();
    QString why() const { return m_why; }

    QString effect() const;
    bool isShown() const;
    int size() const;

public slots:
    // The D-Bus methods.
    Q_SCRIPTABLE void SetEffect(const QString &name);
    Q_SCRIPTABLE void Show();
    Q_SCRIPTABLE void Hide();
    Q_SCRIPTABLE void Toggle();
    Q_SCRIPTABLE void ChangeSize(int delta);

private:
    void announce(const QString &property, const QVariant &value);

    PresenterState &m_state;
    QDBusConnection m_bus{QString()};
    bool m_published = false;
    int m_announcedSize = 0;
    QString m_why;
};
