#include "dialogtesthelpers.h"

#include "ui/maindialogform.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>

#include <QDialog>
#include <QLayout>
#include <QSpacerItem>
#include <QtTest>

#include <memory>

using namespace DialogTest;

namespace {
// Which of a font's attributes were set on it rather than inherited.
uint fontResolveMask(const QFont &font)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return font.resolveMask();
#else
    return font.resolve();
#endif
}
} // namespace

// The widget tree of the settings window as the form builds it on a plain dialog:
// names, classes, nesting, layouts, sizes, ranges, fonts and the design-time texts that the
// window's behaviour and style sheet rely on.
class TestMainDialogForm : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void formItself();
    void widgetTree_data();
    void widgetTree();
    void pageStacking();
    void layouts_data();
    void layouts();
    void properties_data();
    void properties();
    void fonts();
    void designTexts();

private:
    QWidget *find(const char *name) const
    {
        return m_form->findChild<QWidget *>(QString::fromLatin1(name));
    }

    template <typename T> T *child(const char *name) const
    {
        T *widget = m_form->findChild<T *>(QString::fromLatin1(name));
        if (!widget)
            qFatal("no %s in the form", name);
        return widget;
    }

    std::unique_ptr<QDialog> m_form;
};

void TestMainDialogForm::init()
{
    m_form = std::make_unique<QDialog>();
    MainDialogForm::setUp(m_form.get());
}

void TestMainDialogForm::cleanup()
{
    m_form.reset();
}

void TestMainDialogForm::formItself()
{
    QCOMPARE(m_form->objectName(), QStringLiteral("MainDialog"));
    QCOMPARE(m_form->size(), QSize(620, 662));
    QCOMPARE(m_form->minimumSize(), QSize(610, 630));
    QCOMPARE(m_form->maximumSize(), QSize(652, 662));
    QCOMPARE(child<QStackedWidget>("stackedWidget")->currentIndex(), 0);
    QCOMPARE(child<QStackedWidget>("stackedWidget")->count(), 2);
    QCOMPARE(child<QStackedWidget>("stackedWidget")->widget(0), child<QWidget>("page"));
    QCOMPARE(child<QStackedWidget>("stackedWidget")->widget(1), child<QWidget>("page_2"));

    // A form that already has a name keeps it.
    QDialog named;
    named.setObjectName(QStringLiteral("Other"));
    MainDialogForm::setUp(&named);
    QCOMPARE(named.objectName(), QStringLiteral("Other"));
}

void TestMainDialogForm::widgetTree_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");

    const char *const rows[][3] = {
        {"stackedWidget", "QStackedWidget", "MainDialog"},
        {"page", "QWidget", "stackedWidget"},
        {"groupBox_2", "QGroupBox", "page"},
        {"radioButton_normal", "QRadioButton", "groupBox_2"},
        {"radioButton_spotLight", "QRadioButton", "groupBox_2"},
        {"radioButton_laser", "QRadioButton", "groupBox_2"},
        {"radioButton_magnifier", "QRadioButton", "groupBox_2"},
        {"groupBox_4", "QGroupBox", "page"},
        {"widget_preview", "PreViewWidget", "groupBox_4"},
        {"groupBox_8", "QGroupBox", "widget_preview"},
        {"label_3", "QLabel", "groupBox_8"},
        {"horizontalSlider_mouseSpeed", "QSlider", "groupBox_8"},
        {"layoutWidget", "QWidget", "page"},
        {"groupBox_back", "QGroupBox", "layoutWidget"},
        {"label_5", "QLabel", "groupBox_back"},
        {"pushButton_backColor", "QPushButton", "groupBox_back"},
        {"label_6", "QLabel", "groupBox_back"},
        {"horizontalSlider_backOpacity", "QSlider", "groupBox_back"},
        {"groupBox_fore", "QGroupBox", "layoutWidget"},
        {"label_2", "QLabel", "groupBox_fore"},
        {"pushButton_foreColor", "QPushButton", "groupBox_fore"},
        {"label", "QLabel", "groupBox_fore"},
        {"horizontalSlider_foreOpacity", "QSlider", "groupBox_fore"},
        {"groupBox", "QGroupBox", "layoutWidget"},
        {"groupBox_size", "QGroupBox", "groupBox"},
        {"label_7", "QLabel", "groupBox_size"},
        {"horizontalSlider_cursorSize", "QSlider", "groupBox_size"},
        {"groupBox_scale", "QGroupBox", "groupBox"},
        {"label_9", "QLabel", "groupBox_scale"},
        {"horizontalSlider_scaleRate", "QSlider", "groupBox_scale"},
        {"groupBox1", "QGroupBox", "layoutWidget"},
        {"groupBox_timer", "QGroupBox", "groupBox1"},
        {"label_4", "QLabel", "groupBox_timer"},
        {"spinBox_timer", "QSpinBox", "groupBox_timer"},
        {"label_8", "QLabel", "groupBox_timer"},
        {"pushButton_setTimer", "QPushButton", "groupBox_timer"},
        {"widget", "QWidget", "groupBox1"},
        {"comboBox_lang", "QComboBox", "page"},
        {"page_2", "QWidget", "stackedWidget"},
        {"label_10", "QLabel", "page_2"},
    };
    for (const auto &row : rows)
        QTest::newRow(row[0]) << QString::fromLatin1(row[1]) << QString::fromLatin1(row[2]);
}

void TestMainDialogForm::widgetTree()
{
    QFETCH(QString, className);
    QFETCH(QString, parentName);
    const QString name = QString::fromLatin1(QTest::currentDataTag());
    const QList<QWidget *> found = m_form->findChildren<QWidget *>(name);
    QCOMPARE(found.size(), 1);
    QCOMPARE(QString::fromLatin1(found.first()->metaObject()->className()), className);
    QVERIFY(found.first()->parentWidget());
    QCOMPARE(found.first()->parentWidget()->objectName(), parentName);
}

void TestMainDialogForm::pageStacking()
{
    // Later siblings lie above earlier ones: the language box is the page's last child.
    QStringList order;
    for (QObject *child : child<QWidget>("page")->children())
        if (child->isWidgetType())
            order << child->objectName();
    QCOMPARE(order, (QStringList{"groupBox_2", "groupBox_4", "layoutWidget", "comboBox_lang"}));
}

namespace {

QString describeItem(QLayoutItem *item)
{
    if (QWidget *w = item->widget())
        return w->objectName();
    if (QLayout *l = item->layout())
        return l->objectName();
    if (QSpacerItem *s = item->spacerItem()) {
        const QSizePolicy policy = s->sizePolicy();
        const bool fixedMinimum = policy.horizontalPolicy() == QSizePolicy::Fixed &&
                                  policy.verticalPolicy() == QSizePolicy::Minimum;
        return QStringLiteral("spacer %1x%2%3")
            .arg(s->sizeHint().width())
            .arg(s->sizeHint().height())
            .arg(fixedMinimum ? QString() : QStringLiteral(" (wrong policy)"));
    }
    return QStringLiteral("?");
}

} // namespace

void TestMainDialogForm::layouts_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("owner"); // widget it is installed on, or the parent layout
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<int>("spacing");        // -1: not set
    QTest::addColumn<QList<int>>("margins"); // -1: not set
    QTest::addColumn<QList<int>>("stretch"); // empty: not set

    const QList<int> none{-1, -1, -1, -1};
    const QList<int> zero{0, 0, 0, 0};
    QTest::newRow("verticalLayout_4")
        << "QVBoxLayout"
        << "MainDialog" << QStringList{"verticalLayout_3"} << 0 << zero << QList<int>{};
    QTest::newRow("verticalLayout_3")
        << "QVBoxLayout"
        << "verticalLayout_4" << QStringList{"stackedWidget"} << -1 << none << QList<int>{};
    QTest::newRow("verticalLayout") << "QVBoxLayout"
                                    << "groupBox_2"
                                    << QStringList{"radioButton_normal", "radioButton_spotLight",
                                                   "radioButton_laser", "radioButton_magnifier"}
                                    << -1 << QList<int>{20, -1, -1, -1} << QList<int>{};
    QTest::newRow("horizontalLayout_3")
        << "QHBoxLayout"
        << "groupBox_4" << QStringList{"widget_preview"} << -1 << none << QList<int>{};
    QTest::newRow("horizontalLayout_12")
        << "QHBoxLayout"
        << "groupBox_8" << QStringList{"horizontalLayout_9"} << -1 << none << QList<int>{};
    QTest::newRow("horizontalLayout_9")
        << "QHBoxLayout"
        << "horizontalLayout_12" << QStringList{"label_3", "horizontalSlider_mouseSpeed"} << 10
        << none << QList<int>{};
    QTest::newRow("verticalLayout_2")
        << "QVBoxLayout"
        << "layoutWidget" << QStringList{"groupBox_back", "groupBox_fore", "groupBox", "groupBox1"}
        << 16 << zero << QList<int>{};
    QTest::newRow("horizontalLayout_6")
        << "QHBoxLayout"
        << "groupBox_back"
        << QStringList{"horizontalLayout_7", "spacer 40x20", "horizontalLayout_8"} << -1 << none
        << QList<int>{1, 0, 1};
    QTest::newRow("horizontalLayout_7")
        << "QHBoxLayout"
        << "horizontalLayout_6" << QStringList{"label_5", "pushButton_backColor"} << 10 << none
        << QList<int>{};
    QTest::newRow("horizontalLayout_8")
        << "QHBoxLayout"
        << "horizontalLayout_6" << QStringList{"label_6", "horizontalSlider_backOpacity"} << 10
        << none << QList<int>{};
    QTest::newRow("horizontalLayout_5")
        << "QHBoxLayout"
        << "groupBox_fore"
        << QStringList{"horizontalLayout_2", "spacer 40x20", "horizontalLayout_4"} << -1 << none
        << QList<int>{1, 0, 1};
    QTest::newRow("horizontalLayout_2")
        << "QHBoxLayout"
        << "horizontalLayout_5" << QStringList{"label_2", "pushButton_foreColor"} << 10 << none
        << QList<int>{};
    QTest::newRow("horizontalLayout_4")
        << "QHBoxLayout"
        << "horizontalLayout_5" << QStringList{"label", "horizontalSlider_foreOpacity"} << 10
        << none << QList<int>{};
    QTest::newRow("horizontalLayout_15")
        << "QHBoxLayout"
        << "groupBox" << QStringList{"groupBox_size", "spacer 30x20", "groupBox_scale"} << -1
        << none << QList<int>{0, 0, 1};
    QTest::newRow("horizontalLayout_10")
        << "QHBoxLayout"
        << "groupBox_size" << QStringList{"horizontalLayout"} << -1 << none << QList<int>{};
    QTest::newRow("horizontalLayout")
        << "QHBoxLayout"
        << "horizontalLayout_10" << QStringList{"label_7", "horizontalSlider_cursorSize"} << 10
        << none << QList<int>{};
    QTest::newRow("horizontalLayout_14")
        << "QHBoxLayout"
        << "groupBox_scale" << QStringList{"horizontalLayout_13"} << -1 << none << QList<int>{};
    QTest::newRow("horizontalLayout_13")
        << "QHBoxLayout"
        << "horizontalLayout_14" << QStringList{"label_9", "horizontalSlider_scaleRate"} << 10
        << none << QList<int>{};
    QTest::newRow("horizontalLayout_16")
        << "QHBoxLayout"
        << "groupBox1" << QStringList{"groupBox_timer", "widget", "spacer 50x20"} << -1 << none
        << QList<int>{};
    // Narrow side margins and spacing leave the timer spin box room for three digits.
    QTest::newRow("_2") << "QHBoxLayout"
                        << "groupBox_timer" << QStringList{"horizontalLayout_11"} << -1
                        << QList<int>{3, -1, 3, -1} << QList<int>{};
    QTest::newRow("horizontalLayout_11")
        << "QHBoxLayout"
        << "_2" << QStringList{"label_4", "spinBox_timer", "label_8", "pushButton_setTimer"} << 3
        << none << QList<int>{};
}

void TestMainDialogForm::layouts()
{
    QFETCH(QString, className);
    QFETCH(QString, owner);
    QFETCH(QStringList, items);
    QFETCH(int, spacing);
    QFETCH(QList<int>, margins);
    QFETCH(QList<int>, stretch);

    const QString name = QString::fromLatin1(QTest::currentDataTag());
    const QList<QLayout *> found = m_form->findChildren<QLayout *>(name);
    QCOMPARE(found.size(), 1);
    QLayout *layout = found.first();
    QCOMPARE(QString::fromLatin1(layout->metaObject()->className()), className);

    if (QWidget *installedOn = layout->parentWidget();
        installedOn && installedOn->layout() == layout)
        QCOMPARE(installedOn->objectName(), owner);
    else
        QCOMPARE(layout->parent()->objectName(), owner);

    QStringList actualItems;
    for (int i = 0; i < layout->count(); ++i)
        actualItems << describeItem(layout->itemAt(i));
    QCOMPARE(actualItems, items);

    if (spacing >= 0)
        QCOMPARE(layout->spacing(), spacing);
    const QMargins m = layout->contentsMargins();
    const int actualMargins[] = {m.left(), m.top(), m.right(), m.bottom()};
    for (int i = 0; i < 4; ++i)
        if (margins.at(i) >= 0)
            QCOMPARE(actualMargins[i], margins.at(i));

    auto *box = qobject_cast<QBoxLayout *>(layout);
    QVERIFY(box);
    for (int i = 0; i < stretch.size(); ++i)
        QCOMPARE(box->stretch(i), stretch.at(i));
}

void TestMainDialogForm::properties_data()
{
    QTest::addColumn<QString>("widget");
    QTest::addColumn<QString>("property");
    QTest::addColumn<QVariant>("expected");

    const int maxH = QWIDGETSIZE_MAX;
    auto row = [](const char *widget, const char *property, const QVariant &expected) {
        QTest::addRow("%s.%s", widget, property)
            << QString::fromLatin1(widget) << QString::fromLatin1(property) << expected;
    };
    auto noFocus = [&](const char *widget) { row(widget, "focusPolicy", int(Qt::NoFocus)); };

    row("stackedWidget", "minimumSize", QSize(560, 300));
    row("stackedWidget", "maximumSize", QSize(600, 800));
    row("groupBox_2", "geometry", QRect(20, 40, 211, 249));
    for (const char *radio : {"radioButton_normal", "radioButton_spotLight", "radioButton_laser",
                              "radioButton_magnifier"})
        noFocus(radio);
    row("radioButton_normal", "checked", true);
    row("radioButton_spotLight", "checked", false);
    row("radioButton_laser", "checked", false);
    row("radioButton_magnifier", "checked", false);
    row("groupBox_4", "geometry", QRect(240, 40, 351, 249));
    row("widget_preview", "minimumSize", QSize(300, 200));
    row("widget_preview", "maximumSize", QSize(300, 200));
    row("groupBox_8", "enabled", false);
    row("groupBox_8", "geometry", QRect(40, 70, 260, 70));
    row("label_3", "minimumSize", QSize(100, 0));
    row("label_3", "maximumSize", QSize(100, maxH));
    row("horizontalSlider_mouseSpeed", "orientation", int(Qt::Horizontal));
    row("horizontalSlider_mouseSpeed", "enabled", false);
    noFocus("horizontalSlider_mouseSpeed");
    row("horizontalSlider_mouseSpeed", "minimum", 0);
    row("horizontalSlider_mouseSpeed", "maximum", 100);
    row("horizontalSlider_mouseSpeed", "value", 50);
    row("layoutWidget", "geometry", QRect(20, 300, 582, 350));
    for (const char *box : {"groupBox_back", "groupBox_fore", "groupBox", "groupBox1"})
        row(box, "maximumSize", QSize(570, maxH));
    for (const char *label : {"label_5", "label_2", "label_9"}) {
        row(label, "minimumSize", QSize(135, 0));
        row(label, "maximumSize", QSize(135, maxH));
    }
    for (const char *label : {"label_6", "label", "label_7"}) {
        row(label, "minimumSize", QSize(102, 0));
        row(label, "maximumSize", QSize(135, maxH));
    }
    for (const char *button : {"pushButton_backColor", "pushButton_foreColor"}) {
        row(button, "minimumSize", QSize(50, 0));
        row(button, "maximumSize", QSize(100, maxH));
        noFocus(button);
    }
    for (const char *slider : {"horizontalSlider_backOpacity", "horizontalSlider_foreOpacity"}) {
        row(slider, "orientation", int(Qt::Horizontal));
        noFocus(slider);
        row(slider, "minimum", 0);
        row(slider, "maximum", 255);
        row(slider, "value", 0);
        row(slider, "maximumSize", QSize(100, maxH));
    }
    row("groupBox_size", "sizePolicy", QSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred));
    // Minimum first, then a smaller maximum: both values stay as set.
    row("groupBox_size", "minimumSize", QSize(260, 0));
    row("groupBox_size", "maximumSize", QSize(255, maxH));
    row("horizontalSlider_cursorSize", "orientation", int(Qt::Horizontal));
    noFocus("horizontalSlider_cursorSize");
    row("horizontalSlider_cursorSize", "minimum", 10); // the smallest size the keys give
    row("horizontalSlider_cursorSize", "maximum", 200);
    row("horizontalSlider_cursorSize", "value", 10);
    row("horizontalSlider_cursorSize", "maximumSize", QSize(100, maxH));
    row("groupBox_scale", "maximumSize", QSize(250, maxH));
    row("horizontalSlider_scaleRate", "orientation", int(Qt::Horizontal));
    noFocus("horizontalSlider_scaleRate");
    row("horizontalSlider_scaleRate", "minimum", 15);
    row("horizontalSlider_scaleRate", "maximum", 40);
    row("horizontalSlider_scaleRate", "singleStep", 2);
    row("horizontalSlider_scaleRate", "value", 20);
    row("horizontalSlider_scaleRate", "minimumSize", QSize(100, 0));
    row("horizontalSlider_scaleRate", "maximumSize", QSize(100, maxH));
    row("groupBox_timer", "minimumSize", QSize(260, 0));
    row("groupBox_timer", "maximumSize", QSize(260, maxH));
    row("groupBox_timer", "alignment", int(Qt::AlignLeft | Qt::AlignVCenter));
    row("label_4", "minimumSize", QSize(80, 0));
    row("label_4", "maximumSize", QSize(60, maxH));
    row("spinBox_timer", "minimum", 0);
    row("spinBox_timer", "maximum", 255);
    row("spinBox_timer", "value", 5);
    row("spinBox_timer", "minimumSize", QSize(56, 0));
    row("spinBox_timer", "maximumSize", QSize(56, maxH));
    row("label_8", "maximumSize", QSize(28, maxH));
    row("pushButton_setTimer", "minimumSize", QSize(80, 0));
    row("pushButton_setTimer", "maximumSize", QSize(60, maxH));
    noFocus("pushButton_setTimer");
    row("pushButton_setTimer", "layoutDirection", int(Qt::LeftToRight));
    row("widget", "minimumSize", QSize(0, 0));
    row("widget", "maximumSize", QSize(150, 130));
    row("widget", "styleSheet", QStringLiteral("image: url(:/new/prefix1/logo_new.JPG);"));
    row("comboBox_lang", "geometry", QRect(390, 20, 121, 22));
    row("comboBox_lang", "count", 12);
    row("comboBox_lang", "currentIndex", 0);
    row("label_10", "geometry", QRect(50, 0, 500, 600));
    row("label_10", "minimumSize", QSize(500, 600));
    row("label_10", "maximumSize", QSize(500, 600));
    row("label_10", "styleSheet", QStringLiteral("color: rgb(255, 0, 0);"));
    row("label_10", "alignment", int(Qt::AlignCenter));
}

void TestMainDialogForm::properties()
{
    QFETCH(QString, widget);
    QFETCH(QString, property);
    QFETCH(QVariant, expected);

    QWidget *w = m_form->findChild<QWidget *>(widget);
    QVERIFY2(w, qPrintable(widget));
    const QVariant actual = w->property(property.toLatin1().constData());
    QVERIFY2(actual.isValid(), qPrintable(property));
    if (expected.userType() == QMetaType::Int)
        QCOMPARE(actual.toInt(), expected.toInt());
    else
        QCOMPARE(actual, expected);
}

void TestMainDialogForm::fonts()
{
    const char *const captionUsers[] = {
        "groupBox_2",   "groupBox_4", "label_5", "label_6", "label_2",
        "label",        "label_9",    "label_4", "label_8", "pushButton_setTimer",
        "comboBox_lang"};
    for (const char *name : captionUsers) {
        QWidget *w = find(name);
        QVERIFY2(w, name);
        QVERIFY2(w->testAttribute(Qt::WA_SetFont), name);
        QCOMPARE(w->font().family(), QStringLiteral("Calibri"));
        // Only the family is the widget's own; the rest comes from its parent. (Qt 6's uic
        // sets it as a list of families, Qt 5's as one family: either bit counts.)
        const uint familyBits = QFont::FamilyResolved | QFont::FamiliesResolved;
        QVERIFY2(fontResolveMask(w->font()) & familyBits, name);
        QCOMPARE(fontResolveMask(w->font()) & ~familyBits, 0u);
    }

    for (QRadioButton *radio :
         {child<QRadioButton>("radioButton_normal"), child<QRadioButton>("radioButton_spotLight"),
          child<QRadioButton>("radioButton_laser"), child<QRadioButton>("radioButton_magnifier")}) {
        QCOMPARE(radio->font().family(), QStringLiteral("Calibri"));
        QCOMPARE(radio->font().pointSize(), 12);
        QVERIFY(radio->font().bold());
        QCOMPARE(int(radio->font().weight()), int(QFont::Bold));
    }

    QCOMPARE(child<QLabel>("label_10")->font().family(), QStringLiteral("Arial"));
    QCOMPARE(child<QLabel>("label_10")->font().pointSize(), 20);
    QVERIFY(!child<QLabel>("label_7")->testAttribute(Qt::WA_SetFont));
}

void TestMainDialogForm::designTexts()
{
    QCOMPARE(m_form->windowTitle(), QStringLiteral("激光笔配置"));
    QCOMPARE(child<QGroupBox>("groupBox_2")->title(), QStringLiteral("模式选择"));
    QCOMPARE(child<QRadioButton>("radioButton_normal")->text(), QStringLiteral("正常"));
    QCOMPARE(child<QRadioButton>("radioButton_spotLight")->text(), QStringLiteral("聚光灯"));
    QCOMPARE(child<QRadioButton>("radioButton_laser")->text(), QStringLiteral("激光束"));
    QCOMPARE(child<QRadioButton>("radioButton_magnifier")->text(), QStringLiteral("放大镜"));
    QCOMPARE(child<QGroupBox>("groupBox_4")->title(), QStringLiteral("预览效果"));
    QCOMPARE(child<QLabel>("label_3")->text(), QStringLiteral("鼠标速度"));
    QCOMPARE(child<QLabel>("label_5")->text(), QStringLiteral("背景颜色"));
    QCOMPARE(child<QLabel>("label_6")->text(), QStringLiteral("透明度"));
    QCOMPARE(child<QLabel>("label_2")->text(), QStringLiteral("前景颜色"));
    QCOMPARE(child<QLabel>("label")->text(), QStringLiteral("透明度"));
    QCOMPARE(child<QLabel>("label_7")->text(), QStringLiteral("斑点大小"));
    QCOMPARE(child<QLabel>("label_9")->text(), QStringLiteral("放大倍数"));
    QCOMPARE(child<QLabel>("label_4")->text(), QStringLiteral("定时设置"));
    QCOMPARE(child<QLabel>("label_8")->text(), QStringLiteral("分"));
    QCOMPARE(child<QPushButton>("pushButton_setTimer")->text(), QStringLiteral("设置"));
    QCOMPARE(child<QLabel>("label_10")->text(), QStringLiteral("请插入设备"));
    for (QGroupBox *box : {child<QGroupBox>("groupBox_8"), child<QGroupBox>("groupBox_back"),
                           child<QGroupBox>("groupBox_fore"), child<QGroupBox>("groupBox"),
                           child<QGroupBox>("groupBox_size"), child<QGroupBox>("groupBox_scale"),
                           child<QGroupBox>("groupBox1"), child<QGroupBox>("groupBox_timer")})
        QVERIFY2(box->title().isEmpty(), qPrintable(box->objectName()));
    QVERIFY(child<QPushButton>("pushButton_backColor")->text().isEmpty());
    QVERIFY(child<QPushButton>("pushButton_foreColor")->text().isEmpty());

    const QStringList items{"Deutsch ", "English", "FR", "ES", "PT", "PL",
                            "NL",       "RO",      "IT", "CS", "SK", "HU"};
    QStringList actual;
    for (int i = 0; i < child<QComboBox>("comboBox_lang")->count(); ++i) {
        actual << child<QComboBox>("comboBox_lang")->itemText(i);
        QVERIFY(child<QComboBox>("comboBox_lang")->itemIcon(i).isNull());
        QVERIFY(!child<QComboBox>("comboBox_lang")->itemData(i).isValid());
    }
    QCOMPARE(actual, items);
}

QTEST_MAIN(TestMainDialogForm)
#include "tst_maindialogform.moc"
