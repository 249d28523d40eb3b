#include "common/kavriresources.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

#include <vector>

namespace {

struct Rule
{
    QString selector;
    QStringList declarations;
};

// The style sheet as the settings window expects it: every rule in order, every declaration
// as written in the sheet (without its closing semicolon).
const std::vector<Rule> &expectedRules()
{
    static const std::vector<Rule> rules = {
        {"QDialog#MainDialog", // 1
         {"background-color: rgba(200, 200,173,200)", "border: 2px solid  rgba(200, 200,173,255)"}},
        {"QDialog#ColorDialog", // 2
         {"background-color: rgba(200, 200,173,200)", "border: 2px solid  rgba(200, 200,173,255)"}},
        {"QPushButton#pushButton_setTimer", // 3
         {"border-style: none", "border: 0px", "color: #F0F0F0", "padding: 5px", "min-height: 15px",
          "border-radius:5px",
          "background: qlineargradient(spread:pad, x1:0, y1:0, x2:0, y2:1, stop:0 #1B89CA, stop:1 "
          "#1077B5)"}},
        {"QPushButton#pushButton_setTimer:hover", // 4
         {"background: qlineargradient(spread:pad, x1:0, y1:0, x2:0, y2:1, stop:0 #5CACEE, stop:1 "
          "#4F94CD)"}},
        {"QPushButton#pushButton_setTimer:pressed", // 5
         {"background: qlineargradient(spread:pad, x1:0, y1:0, x2:0, y2:1, stop:0 #1B89CA, stop:1 "
          "#1077B5)"}},
        {"QPushButton#minimizeButton,#maximizeButton,#closeButton", // 6
         {"border-radius:0px",
          "background-color: qlineargradient(spread:pad, x1:0, y1:1, x2:0, y2:0, stop:0 rgba(30, "
          "150, 200, 0), stop:1 #50A3F0)",
          "border-style:none"}},
        {"QPushButton#minimizeButton:hover", // 7
         {"background-color: qlineargradient(spread:pad, x1:0, y1:1, x2:0, y2:0, stop:0 rgba(25, "
          "255, 199, 0), stop:1 #50A3F0)"}},
        {"QPushButton#closeButton:hover", // 8
         {"background-color: qlineargradient(spread:pad, x1:0, y1:1, x2:0, y2:0, stop:0 rgba(238, "
          "0, 0, 128), stop:1 rgba(238, 44, 44, 255))"}},
        {"QCheckBox", // 9
         {"spacing: 2px"}},
        {"QCheckBox::indicator", // 10
         {"width: 20px", "height: 20px"}},
        {"QCheckBox::indicator:unchecked", // 11
         {"image: url(:/Resource/checkbox_unchecked.png)"}},
        {"QCheckBox::indicator:checked", // 12
         {"image: url(:/Resource/checkbox_checked.png)"}},
        {"QRadioButton", // 13
         {"spacing: 2px"}},
        {"QRadioButton::indicator", // 14
         {"width: 15px", "height: 15px"}},
        {"QRadioButton::indicator::unchecked", // 15
         {"image: url(:/Resource/radio_normal.png)"}},
        {"QRadioButton::indicator::checked", // 16
         {"image: url(:/Resource/radio_selected.png)"}},
        {"QComboBox,QDateEdit", // 17
         {"border-radius: 3px", "padding: 1px 10px 1px 5px", "border: 1px solid #5CACEE"}},
        {"QComboBox::drop-down,QDateEdit::drop-down", // 18
         {"subcontrol-origin: padding", "subcontrol-position: top right", "width: 15px",
          "border-left-width: 1px", "border-left-style: solid", "border-top-right-radius: 3px",
          "border-bottom-right-radius: 3px", "border-left-color: #5CACEE"}},
        {"QComboBox::down-arrow,QDateEdit::down-arrow", // 19
         {"image: url(:/Resource/array_down.png)"}},
        {"QMenu", // 20
         {"background-color:#F0F0F0", "margin: 2px"}},
        {"QMenu::item", // 21
         {"padding: 2px 12px 2px 12px"}},
        {"QMenu::indicator", // 22
         {"width: 13px", "height: 13px"}},
        {"QMenu::item:selected", // 23
         {"color: #FFFFFF", "background: qlineargradient(spread:pad, x1:0, y1:0, x2:0, y2:1, "
                            "stop:0 #1B89CA, stop:1 #1077B5)"}},
        {"QMenu::separator", // 24
         {"height: 1px", "background: #5CACEE"}},
        {"QProgressBar", // 25
         {"border-radius: 5px", "text-align: center", "border: 1px solid #5CACEE"}},
        {"QProgressBar::chunk", // 26
         {"width: 5px", "margin: 0.5px", "background-color: #1B89CA"}},
        {"QSlider::groove:horizontal,QSlider::add-page:horizontal", // 27
         {"background: #808080", "height: 8px", "border-radius: 3px"}},
        {"QSlider::sub-page:horizontal", // 28
         {"height: 8px", "border-radius: 3px",
          "background: qlineargradient(spread:pad, x1:0, y1:0, x2:0, y2:1, stop:0 #1B89CA, stop:1 "
          "#1077B5)"}},
        {"QSlider::handle:horizontal", // 29
         {"width: 13px", "margin-top: -3px", "margin-bottom: -3px", "border-radius: 6px",
          "background: qradialgradient(spread:pad, cx:0.5, cy:0.5, radius:0.5, fx:0.5, "
          "fy:0.5,stop:0.6 #F0F0F0, stop:0.778409 #5CACEE)"}},
        {"QSlider::handle:horizontal:hover", // 30
         {"background: qradialgradient(spread: pad, cx: 0.5, cy: 0.5, radius: 0.5, fx: 0.5, fy: "
          "0.5, stop: 0.6 #F0F0F0,stop:0.778409 #1B89CA)"}},
        {"QSlider::groove:vertical,QSlider::sub-page:vertical", // 31
         {"background:#808080", "width: 8px", "border-radius: 3px"}},
        {"QSlider::add-page:vertical", // 32
         {"width: 8px", "border-radius: 3px",
          "background: qlineargradient(spread:pad, x1:0, y1:0, x2:0, y2:1, stop:0 #1B89CA, stop:1 "
          "#1077B5)"}},
        {"QSlider::handle:vertical", // 33
         {"height: 14px", "margin-left: -3px", "margin-right: -3px", "border-radius: 6px",
          "background: qradialgradient(spread: pad, cx: 0.5, cy: 0.5, radius: 0.5, fx: 0.5, fy: "
          "0.5, stop: 0.6 #F0F0F0, stop:0.778409 #5CACEE)"}},
        {"QSlider::handle:vertical:hover", // 34
         {"background: qradialgradient(spread: pad, cx: 0.5, cy: 0.5, radius: 0.5, fx: 0.5, fy: "
          "0.5, stop: 0.6 #F0F0F0,stop:0.778409 #1B89CA)"}},
        {"QScrollBar:vertical", // 35
         {"width:10px", "background-color:rgba(0,0,0,0%)", "padding-top:10px",
          "padding-bottom:10px"}},
        {"QScrollBar:horizontal", // 36
         {"height:10px", "background-color:rgba(0,0,0,0%)", "padding-left:10px",
          "padding-right:10px"}},
        {"QScrollBar::handle:vertical", // 37
         {"width:10px", "background: qlineargradient(spread:pad, x1:0, y1:0, x2:0, y2:1, stop:0 "
                        "#5CACEE, stop:1 #4F94CD)"}},
        {"QScrollBar::handle:horizontal", // 38
         {"height:10px", "background: qlineargradient(spread:pad, x1:0, y1:0, x2:0, y2:1, stop:0 "
                         "#5CACEE, stop:1 #4F94CD)"}},
        {"QScrollBar::handle:vertical:hover", // 39
         {"width:10px", "background: qlineargradient(spread:pad, x1:0, y1:0, x2:0, y2:1, stop:0 "
                        "#1B89CA, stop:1 #1077B5)"}},
        {"QScrollBar::handle:horizontal:hover", // 40
         {"height:10px", "background: qlineargradient(spread:pad, x1:0, y1:0, x2:0, y2:1, stop:0 "
                         "#1B89CA, stop:1 #1077B5)"}},
        {"QScrollBar::add-line:vertical", // 41
         {"height:10px", "width:10px", "subcontrol-position: bottom", "subcontrol-origin: margin",
          "border-image:url(:/Resource/add-line_vertical.png)"}},
        {"QScrollBar::add-line:horizontal", // 42
         {"height:10px", "width:10px", "subcontrol-position: right", "subcontrol-origin: margin",
          "border-image:url(:/Resource/add-line_horizontal.png)"}},
        {"QScrollBar::sub-line:vertical", // 43
         {"height:10px", "width:10px", "subcontrol-position: top", "subcontrol-origin: margin",
          "border-image:url(:/Resource/sub-line_vertical.png)"}},
        {"QScrollBar::sub-line:horizontal", // 44
         {"height:10px", "width:10px", "subcontrol-position: left", "subcontrol-origin: margin",
          "border-image:url(:/Resource/sub-line_horizontal.png)"}},
        {"QScrollBar::add-page:vertical,QScrollBar::sub-page:vertical", // 45
         {"width:10px", "background: #C0C0C0"}},
        {"QScrollBar::add-page:horizontal,QScrollBar::sub-page:horizontal", // 46
         {"height:10px", "background: #C0C0C0"}},
        {"QScrollArea", // 47
         {"border: 0px"}},
        {"QTreeView,QListView,QTableView", // 48
         {"border: 1px solid #5CACEE", "selection-background-color: #1B89CA",
          "selection-color: #F0F0F0"}},
        {"QTableView::item:selected, QListView::item:selected, QTreeView::item:selected", // 49
         {"color: #F0F0F0", "background: qlineargradient(spread:pad, x1:0, y1:0, x2:0, y2:1, "
                            "stop:0 #1B89CA, stop:1 #1077B5)"}},
        {"QTableView::item:hover, QListView::item:hover, QTreeView::item:hover", // 50
         {"color: #F0F0F0", "background: qlineargradient(spread:pad, x1:0, y1:0, x2:0, y2:1, "
                            "stop:0 #5CACEE, stop:1 #4F94CD)"}},
        {"QTableView::item, QListView::item, QTreeView::item", // 51
         {"padding: 5px", "margin: 0px"}},
        {"QHeaderView::section", // 52
         {"padding:3px", "margin:0px", "color:#F0F0F0", "border: 1px solid #F0F0F0",
          "background: qlineargradient(spread:pad, x1:0, y1:0, x2:0, y2:1, stop:0 #5CACEE, stop:1 "
          "#4F94CD)"}},
        {"QTabBar::tab", // 53
         {"border-bottom-left-radius:0px", "border-bottom-right-radius:0px", "color: #F0F0F0",
          "min-width: 60px", "min-height: 20px", "padding: 3px 8px 3px 8px", "margin:1px",
          "background: qlineargradient(spread:pad, x1:0, y1:0, x2:0, y2:1, stop:0 #5CACEE, stop:1 "
          "#4F94CD)"}},
        {"QTabBar::tab:selected, QTabBar::tab:hover", // 54
         {"background: qlineargradient(spread:pad, x1:0, y1:0, x2:0, y2:1, stop:0 #1B89CA, stop:1 "
          "#1077B5)"}},
        {"QStatusBar::item", // 55
         {"border: 1px solid #5CACEE", "border-radius: 3px"}},
    };
    return rules;
}

// Splits a style sheet into rules. Declarations are the texts between semicolons; a rule
// whose last declaration lacks its semicolon comes back with a trailing non-empty piece,
// reported through `ok`.
std::vector<Rule> parseSheet(QString text, bool *ok, QString *error)
{
    *ok = true;
    text.remove(QRegularExpression(QStringLiteral("/\\*.*?\\*/"),
                                   QRegularExpression::DotMatchesEverythingOption));
    std::vector<Rule> rules;
    int at = 0;
    while (true) {
        const int open = text.indexOf(QLatin1Char('{'), at);
        if (open < 0) {
            if (!text.mid(at).trimmed().isEmpty()) {
                *ok = false;
                *error = QStringLiteral("text after the last rule: ") + text.mid(at).trimmed();
            }
            break;
        }
        const int close = text.indexOf(QLatin1Char('}'), open);
        if (close < 0) {
            *ok = false;
            *error = QStringLiteral("unclosed rule");
            break;
        }
        Rule rule;
        rule.selector = text.mid(at, open - at).trimmed();
        const QStringList pieces = text.mid(open + 1, close - open - 1).split(QLatin1Char(';'));
        for (int i = 0; i < pieces.size(); ++i) {
            const QString piece = pieces.at(i).trimmed();
            if (i == pieces.size() - 1) {
                if (!piece.isEmpty()) {
                    *ok = false;
                    *error = QStringLiteral("declaration without ';' in ") + rule.selector;
                }
            } else {
                rule.declarations << piece;
            }
        }
        rules.push_back(rule);
        at = close + 1;
    }
    return rules;
}

QByteArray readResource(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

} // namespace

class TestResources : public QObject
{
    Q_OBJECT

private:

private slots:
    void initTestCase() { initKavriResources(); }

    void bundlesHoldTheNamedEntries()
    {
        QStringList found;
        for (const QString &root :
             {QStringLiteral(":/new/prefix1"), QStringLiteral(":/Resource")}) {
            QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext())
                found << it.next();
        }
        found.sort();
        QStringList expected = {
            ":/new/prefix1/logo_new.JPG",         ":/Resource/skin.qss",
            ":/Resource/preview_normal.jpg",      ":/Resource/logo_min.png",
            ":/Resource/checkbox_unchecked.png",  ":/Resource/checkbox_checked.png",
            ":/Resource/radio_normal.png",        ":/Resource/radio_selected.png",
            ":/Resource/array_down.png",          ":/Resource/add-line_vertical.png",
            ":/Resource/add-line_horizontal.png", ":/Resource/sub-line_vertical.png",
            ":/Resource/sub-line_horizontal.png",
        };
        expected.sort();
        QCOMPARE(found, expected);
    }

    void picturesLoad_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<QSize>("size");
        // Decoded as an 8-bit palette image (Qt decodes GIF frames to 32-bit colour).
        QTest::addColumn<bool>("indexed");
        QTest::addColumn<bool>("alpha");

        QTest::newRow("logo (GIF named .JPG)") << ":/new/prefix1/logo_new.JPG" << QByteArray("gif")
                                               << QSize(1080, 439) << false << true;
        QTest::newRow("preview") << ":/Resource/preview_normal.jpg" << QByteArray("jpeg")
                                 << QSize(300, 200) << false << false;
        QTest::newRow("tray logo")
            << ":/Resource/logo_min.png" << QByteArray("png") << QSize(64, 64) << false << true;
        QTest::newRow("check box off") << ":/Resource/checkbox_unchecked.png" << QByteArray("png")
                                       << QSize(52, 52) << true << true;
        QTest::newRow("check box on") << ":/Resource/checkbox_checked.png" << QByteArray("png")
                                      << QSize(52, 52) << true << true;
        QTest::newRow("radio off")
            << ":/Resource/radio_normal.png" << QByteArray("png") << QSize(37, 37) << true << true;
        QTest::newRow("radio on") << ":/Resource/radio_selected.png" << QByteArray("png")
                                  << QSize(37, 37) << true << true;
        QTest::newRow("combo arrow")
            << ":/Resource/array_down.png" << QByteArray("png") << QSize(10, 9) << false << true;
        QTest::newRow("scroll down") << ":/Resource/add-line_vertical.png" << QByteArray("png")
                                     << QSize(10, 9) << false << true;
        QTest::newRow("scroll right") << ":/Resource/add-line_horizontal.png" << QByteArray("png")
                                      << QSize(9, 10) << false << true;
        QTest::newRow("scroll up") << ":/Resource/sub-line_vertical.png" << QByteArray("png")
                                   << QSize(10, 9) << false << true;
        QTest::newRow("scroll left") << ":/Resource/sub-line_horizontal.png" << QByteArray("png")
                                     << QSize(9, 10) << false << true;
    }
    void picturesLoad()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, format);
        QFETCH(QSize, size);
        QFETCH(bool, indexed);
        QFETCH(bool, alpha);

        // Recognised by content, as the program loads them: no format is named.
        QImageReader reader(path);
        QCOMPARE(reader.format(), format);
        QCOMPARE(reader.size(), size);
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(image.size(), size);
        QCOMPARE(image.format() == QImage::Format_Indexed8, indexed);
        QCOMPARE(image.hasAlphaChannel(), alpha);
        // A picture of one flat colour would be a placeholder, not artwork.
        const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
        QSet<QRgb> colours;
        for (int y = 0; y < argb.height(); ++y)
            for (int x = 0; x < argb.width(); ++x)
                colours.insert(argb.pixel(x, y));
        QVERIFY(colours.size() >= 3);
        QVERIFY(!QPixmap(path).isNull());
    }

    void logoIsAGifUnderAJpegName()
    {
        const QByteArray bytes = readResource(QStringLiteral(":/new/prefix1/logo_new.JPG"));
        QVERIFY(bytes.startsWith("GIF89a"));
        // Loading through the style sheet's path goes by the content as well.
        const QImage image(QStringLiteral(":/new/prefix1/logo_new.JPG"));
        QCOMPARE(image.size(), QSize(1080, 439));
        QVERIFY(!QIcon(QStringLiteral(":/Resource/logo_min.png")).isNull());
    }

    void styleSheetHasEveryRule()
    {
        const QByteArray bytes = readResource(QStringLiteral(":/Resource/skin.qss"));
        QVERIFY(!bytes.isEmpty());
        for (const char c : bytes)
            QVERIFY2(uchar(c) < 0x80 && c != '\0', "the sheet is plain ASCII");

        bool ok = false;
        QString error;
        const std::vector<Rule> rules = parseSheet(QString::fromLatin1(bytes), &ok, &error);
        QVERIFY2(ok, qPrintable(error));
        const std::vector<Rule> &expected = expectedRules();
        QCOMPARE(int(expected.size()), 55);
        QCOMPARE(int(rules.size()), int(expected.size()));
        for (size_t i = 0; i < rules.size(); ++i) {
            const QString where = QStringLiteral("rule %1").arg(i + 1);
            QVERIFY2(rules[i].selector == expected[i].selector,
                     qPrintable(where + ": " + rules[i].selector));
            QVERIFY2(rules[i].declarations.size() == expected[i].declarations.size(),
                     qPrintable(where + " declaration count"));
            for (int d = 0; d < rules[i].declarations.size(); ++d)
                QVERIFY2(rules[i].declarations.at(d) == expected[i].declarations.at(d),
                         qPrintable(where + ": " + rules[i].declarations.at(d)));
        }
    }

    void styleSheetPicturesExist()
    {
        const QString sheet =
            QString::fromLatin1(readResource(QStringLiteral(":/Resource/skin.qss")));
        const QRegularExpression url(QStringLiteral("url\\(([^)]*)\\)"));
        QStringList paths;
        for (auto it = url.globalMatch(sheet); it.hasNext();)
            paths << it.next().captured(1);
        QCOMPARE(paths.size(), 9);
        for (const QString &path : paths) {
            QVERIFY2(path.startsWith(QLatin1String(":/Resource/")), qPrintable(path));
            QVERIFY2(!QImage(path).isNull(), qPrintable(path));
        }
    }
};

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
