#pragma once

#include "shortcuts/shortcuttable.h"

#include <QDialog>

#include <array>

class QKeySequenceEdit;
class QLabel;
class QPushButton;
class ShortcutService;

// The shortcuts page the tray menu opens: one field per action that records a key
// combination, and a button that clears it. A recorded or cleared field binds or unbinds its
// action at once (stored, and the keys taken again); the page keeps nothing of its own.
class ShortcutsDialog final : public QDialog
{
    Q_OBJECT

public:
    // `service` must outlive the page.
    explicit ShortcutsDialog(ShortcutService &service, QWidget *parent = nullptr);

    // The texts in one of the window's languages.
    void setLanguage(int index);
    // The fields show the bindings as they are now.
    void showBindings();

    QKeySequenceEdit *field(Shortcuts::Action action) const { return m_fields.at(action); }

private:
    void record(Shortcuts::Action action);

    ShortcutService &m_service;
    QLabel *m_hint = nullptr;
    std::array<QLabel *, Shortcuts::ActionCount> m_captions{};
    std::array<QKeySequenceEdit *, Shortcuts::ActionCount> m_fields{};
    std::array<QPushButton *, Shortcuts::ActionCount> m_clearButtons{};
};
