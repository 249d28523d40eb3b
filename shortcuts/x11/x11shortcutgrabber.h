#pragma once

#include "shortcuts/shortcuttable.h"

#include <QHash>
#include <QObject>
#include <QVector>

#include <memory>

class QSocketNotifier;
struct _XDisplay;

// Global shortcuts on an X server: the key combinations grabbed on the root window, over a
// connection of the grabber's own (Qt's connection is left alone), read when its socket has
// something. Each combination is grabbed with every state of Caps Lock and Num Lock, so a
// lock key does not stop it. A held key gives one press and one release: the server's
// auto-repeat is turned into plain presses (detectable auto-repeat) and those are dropped; a
// server without that gives a release and a press with the same time, also dropped. The
// release counts by its key, whatever modifiers are still down. Every grab is given back when
// the table changes and when the grabber goes.
class X11ShortcutGrabber final : public QObject
{
    Q_OBJECT

public:
    // A grabber on the display named by DISPLAY; none when it cannot be opened.
    static std::unique_ptr<X11ShortcutGrabber> open();
    ~X11ShortcutGrabber() override;

    // Gives back what was grabbed and grabs the table's combinations. Returns the actions whose
    // combination could not be grabbed: another program holds it, or no key of this keyboard
    // gives it. The others are grabbed all the same.
    QVector<Shortcuts::Action> grab(const Shortcuts::Table &table);

signals:
    void pressed(Shortcuts::Action action);
    void released(Shortcuts::Action action);

private:
    struct Grab
    {
        unsigned keycode = 0;
        unsigned modifiers = 0;
        Shortcuts::Action action = Shortcuts::ShowWhileHeld;
    };

    explicit X11ShortcutGrabber(_XDisplay *display);
    void ungrabAll();
    void readEvents();

    _XDisplay *m_display = nullptr;
    QSocketNotifier *m_notifier = nullptr; // a child
    bool m_detectableRepeat = false;
    QVector<Grab> m_grabs;
    // The keys held down now, by key code, with the action each one's press ran.
    QHash<unsigned, Shortcuts::Action> m_held;
};
