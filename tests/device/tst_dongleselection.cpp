#include "device/dongleselection.h"

#include <QtTest>

#include <string>
#include <vector>

Q_DECLARE_METATYPE(std::vector<std::string>)

namespace {
std::string windowsPath(int interfaceNumber, int collection, char instance = '0')
{
    return "\\\\?\\hid#vid_7045&pid_1820&mi_0" + std::to_string(interfaceNumber) + "&col0" +
           std::to_string(collection) + "#8&2a4f1c3e&" + instance +
           "&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
}
std::vector<std::string> repeated(const std::string &path, int times)
{
    return std::vector<std::string>(std::size_t(times), path);
}
std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
} // namespace

// Which entry of the dongle's enumeration is opened, in the Windows form (one path per
// collection, "&colNN" suffix) and the hidraw form (one path per interface, listed once per
// collection).
class TestDongleSelection : public QObject
{
    Q_OBJECT

private slots:
    void choose_data()
    {
        QTest::addColumn<std::vector<std::string>>("paths");
        QTest::addColumn<int>("chosen");

        QTest::newRow("nothing enumerated") << std::vector<std::string>{} << -1;

        // Windows form
        std::vector<std::string> five;
        for (int c = 1; c <= 5; ++c)
            five.push_back(windowsPath(1, c));
        QTest::newRow("windows: fourth of five collections") << five << 3;
        QTest::newRow("windows: two &col04, the later wins")
            << std::vector<std::string>{windowsPath(0, 4), windowsPath(1, 1),
                                        windowsPath(1, 4, '1'), windowsPath(1, 5)}
            << 2;
        QTest::newRow("windows: no &col04, first enumerated")
            << std::vector<std::string>{windowsPath(1, 1), windowsPath(1, 2), windowsPath(1, 3)}
            << 0;
        QTest::newRow("windows: match is case-sensitive")
            << std::vector<std::string>{"\\\\?\\hid#vid_7045&pid_1820&mi_00",
                                        "\\\\?\\HID#VID_7045&PID_1820&MI_01&COL04"}
            << 0;
        QTest::newRow("windows: single interface") << std::vector<std::string>{"x"} << 0;

        // hidraw form
        QTest::newRow("hidraw: interface with four collections after a single one")
            << std::vector<std::string>{"/dev/hidraw2"} + repeated("/dev/hidraw3", 4) << 1;
        QTest::newRow("hidraw: five collections count as well")
            << std::vector<std::string>{"/dev/hidraw6"} + repeated("/dev/hidraw5", 5) << 1;
        QTest::newRow("hidraw: two such interfaces, the later wins")
            << repeated("/dev/hidraw3", 4) + std::vector<std::string>{"/dev/hidraw4"} +
                   repeated("/dev/hidraw5", 4)
            << 5;
        QTest::newRow("hidraw: three collections are not enough, first enumerated")
            << std::vector<std::string>{"/dev/hidraw2"} + repeated("/dev/hidraw3", 3) << 0;
        QTest::newRow("hidraw: entries of one interface counted even when apart")
            << std::vector<std::string>{"/dev/hidraw2", "/dev/hidraw3", "/dev/hidraw2",
                                        "/dev/hidraw3", "/dev/hidraw3", "/dev/hidraw3"}
            << 1;
        QTest::newRow("macOS-style paths, fourth-collection interface last")
            << std::vector<std::string>{"DevSrvsID:4294968150"} +
                   repeated("DevSrvsID:4294968151", 4)
            << 1;
        QTest::newRow("&col04 wins over a repeated path")
            << repeated("/dev/hidraw3", 4) + std::vector<std::string>{windowsPath(1, 4)} << 4;
    }
    void choose()
    {
        QFETCH(std::vector<std::string>, paths);
        QFETCH(int, chosen);
        QCOMPARE(DongleSelection::choose(paths), chosen);
    }
};

QTEST_APPLESS_MAIN(TestDongleSelection)
#include "tst_dongleselection.moc"
