#include "common/settingsfixture.h"
#include "shortcuts/shortcuttable.h"

#include <QtTest>

// The [Shortcuts] table of the settings file: what is read as a key combination, what is
// refused with a line naming its key, and what a binding writes.
class TestShortcuts : public QObject
{
    Q_OBJECT

    KavriTest::SettingsFixture m_settings;

private slots:
    void init() { QVERIFY(m_settings.reset()); }

    void readTable_data()
    {
        QTest::addColumn<QByteArray>("value"); // showWhileHeld's value as written
        QTest::addColumn<QString>("expected"); // as read back; "-": refused with a line
        QTest::newRow("not bound") << QByteArray() << QString();
        QTest::newRow("empty value") << QByteArray("showWhileHeld=") << QString();
        QTest::newRow("modifier and function key")
            << QByteArray("showWhileHeld=Meta+F8") << "Meta+F8";
        QTest::newRow("several modifiers, any case")
            << QByteArray("showWhileHeld=ctrl+shift+b") << "Ctrl+Shift+B";
        QTest::newRow("a plain key, as a generic remote sends")
            << QByteArray("showWhileHeld=F5") << "F5";
        QTest::newRow("a comma key, quoted") << QByteArray("showWhileHeld=\"Ctrl+,\"") << "Ctrl+,";
        QTest::newRow("unknown key name") << QByteArray("showWhileHeld=Ctrl+Foo") << "-";
        QTest::newRow("modifiers alone") << QByteArray("showWhileHeld=Ctrl+Alt") << "-";
        QTest::newRow("two combinations") << QByteArray("showWhileHeld=\"Ctrl+A, B\"") << "-";
        QTest::newRow("native words") << QByteArray("showWhileHeld=Strg+B") << "-";
    }
    void readTable()
    {
        QFETCH(QByteArray, value);
        QFETCH(QString, expected);
        QVERIFY(
            m_settings.write("[General]\nlanguage=1\n\n[Shortcuts]\ntoggle=F9\n" + value + "\n"));
        if (expected == "-")
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression("^Kavri: the shortcut showWhileHeld in "
                                                    "Kavri.ini, \".*\", is no key combination"));
        const auto store = m_settings.store();
        const Shortcuts::Table table = Shortcuts::read(*store);
        QCOMPARE(table[Shortcuts::ShowWhileHeld].toString(QKeySequence::PortableText),
                 expected == "-" ? QString() : expected);
        // One refused value leaves the others alone.
        QCOMPARE(table[Shortcuts::Toggle], QKeySequence(Qt::Key_F9));
        QVERIFY(table[Shortcuts::SizeUp].isEmpty());
    }

    // Binding writes portable text into the [Shortcuts] group, beside the other keys, and
    // clearing a field writes an empty value that reads back as unbound.
    void bindingWritesTheGroup()
    {
        QVERIFY(m_settings.write("[General]\nlanguage=1\n"));
        {
            const auto store = m_settings.store();
            Shortcuts::write(*store, Shortcuts::SizeDown, QKeySequence("Meta+Alt+Down"));
            Shortcuts::write(*store, Shortcuts::NextEffect, QKeySequence(Qt::Key_F8));
            Shortcuts::write(*store, Shortcuts::NextEffect, QKeySequence());
            QCOMPARE(store->writeCount(), 3);
            QVERIFY(!store->hasPendingWrites());
        }
        const QString text = m_settings.text();
        QVERIFY2(text.contains("[Shortcuts]\nnextEffect=\nsizeDown=Meta+Alt+Down\n"),
                 qPrintable(text));
        QVERIFY(text.contains("language=1"));
        const auto store = m_settings.store();
        const Shortcuts::Table table = Shortcuts::read(*store);
        QCOMPARE(table[Shortcuts::SizeDown], QKeySequence("Meta+Alt+Down"));
        QVERIFY(Shortcuts::isEmpty({}));
        QVERIFY(!Shortcuts::isEmpty(table));
    }
};

QTEST_GUILESS_MAIN(TestShortcuts)
#include "tst_shortcuts.moc"
