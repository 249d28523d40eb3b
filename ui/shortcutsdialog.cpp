#include "ui/shortcutsdialog.h"

#include "shortcuts/shortcutservice.h"
#include "ui/languages.h"

#include <QGridLayout>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

ShortcutsDialog::ShortcutsDialog(ShortcutService &service, QWidget *parent)
    : QDialog(parent), m_service(service)
{
    setObjectName(QStringLiteral("ShortcutsDialog"));
    auto *layout = new QVBoxLayout(this);
    m_hint = new QLabel(this);
    m_hint->setWordWrap(true);
    layout->addWidget(m_hint);
    auto *grid = new QGridLayout;
    layout->addLayout(grid);
    for (int a = 0; a < Shortcuts::ActionCount; ++a) {
        const auto action = Shortcuts::Action(a);
        const QString name = Shortcuts::keyName(action);
        m_captions[a] = new QLabel(this);
        m_fields[a] = new QKeySequenceEdit(this);
        m_fields[a]->setObjectName(QStringLiteral("keys_") + name);
        m_captions[a]->setBuddy(m_fields[a]);
        m_clearButtons[a] = new QPushButton(this);
        m_clearButtons[a]->setObjectName(QStringLiteral("clear_") + name);
        grid->addWidget(m_captions[a], a, 0);
        grid->addWidget(m_fields[a], a, 1);
        grid->addWidget(m_clearButtons[a], a, 2);
        connect(m_fields[a], &QKeySequenceEdit::editingFinished, this,
                [this, action] { record(action); });
        connect(m_clearButtons[a], &QPushButton::clicked, this, [this, action] {
            m_fields.at(action)->clear();
            record(action);
        });
    }
    showBindings();
    setLanguage(Languages::German);
}

void ShortcutsDialog::setLanguage(int index)
{
    using namespace Languages;
    if (!isValid(index))
        return;
    setWindowTitle(extraText(ShortcutsTitle, index));
    m_hint->setText(extraText(ShortcutsHint, index));
    for (int a = 0; a < Shortcuts::ActionCount; ++a) {
        m_captions[a]->setText(extraText(ExtraText(ShowWhileHeldCaption + a), index));
        m_clearButtons[a]->setText(extraText(ClearShortcutButton, index));
        m_fields[a]->setAccessibleName(m_captions[a]->text());
        m_clearButtons[a]->setAccessibleName(m_clearButtons[a]->text() + QLatin1String(": ") +
                                             m_captions[a]->text());
    }
}

void ShortcutsDialog::showBindings()
{
    for (int a = 0; a < Shortcuts::ActionCount; ++a)
        m_fields[a]->setKeySequence(m_service.table()[a]);
}

void ShortcutsDialog::record(Shortcuts::Action action)
{
    QKeySequenceEdit *field = m_fields.at(action);
    // The field records up to four combinations; a shortcut is one.
    const QKeySequence recorded = field->keySequence();
    const QKeySequence keys =
        recorded.isEmpty() ? QKeySequence() : QKeySequence(Shortcuts::combined(recorded));
    if (keys != recorded)
        field->setKeySequence(keys);
    m_service.bind(action, keys);
}
