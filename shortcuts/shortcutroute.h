#pragma once

#include "shortcuts/shortcuttable.h"

#include <QObject>

// A desktop service that owns the global keys and tells Kavri when the keys of its actions go
// down and up (KDE's shortcut service, the desktop portal). The service decides which key
// runs an action: the table's combinations are what Kavri asks for.
class ShortcutRoute : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Asks for the table's bound actions and gives up the unbound ones. False, with one line
    // on standard error, when the service does not answer.
    virtual bool apply(const Shortcuts::Table &table) = 0;

signals:
    void pressed(Shortcuts::Action action);
    void released(Shortcuts::Action action);
    // The desktop gives the action no key: another program holds its combination.
    void refused(Shortcuts::Action action);
};
