#include "fakedongle.h"

#include <QtTest>

#include <hidapi.h>

#include <thread>

using namespace std::chrono_literals;
using fakehid::Call;
using fakehid::FakeDongle;
using fakehid::ReadAnswer;

namespace {
std::vector<std::string> pathsOf(hid_device_info *list)
{
    std::vector<std::string> paths;
    for (; list; list = list->next)
        paths.emplace_back(list->path);
    return paths;
}
} // namespace

// The fake dongle as seen through hidapi's C functions: the behaviour the controller suites
// (and a preloaded stand-in of the library) rely on.
class TestFakeDongle : public QObject
{
    Q_OBJECT

private slots:
    void enumeration()
    {
        FakeDongle dongle(fakehid::linuxDongle());
        fakehid::Interface mouse;
        mouse.path = "/dev/hidraw0";
        mouse.vendorId = 0x046D;
        mouse.productId = 0xC077;
        dongle.setOtherDevices({mouse});

        hid_device_info *list = hid_enumerate(0x7045, 0x1820);
        QCOMPARE(pathsOf(list),
                 (std::vector<std::string>{"/dev/hidraw2", "/dev/hidraw3", "/dev/hidraw3",
                                           "/dev/hidraw3", "/dev/hidraw3"}));
        QCOMPARE(list->vendor_id, 0x7045);
        QCOMPARE(list->next->interface_number, 1);
        QCOMPARE(dongle.enumerationEntriesLive(), 5);
        hid_free_enumeration(list);
        QCOMPARE(dongle.enumerationEntriesLive(), 0);

        list = hid_enumerate(0, 0);
        QCOMPARE(pathsOf(list).size(), std::size_t(6));
        QCOMPARE(pathsOf(list).front(), std::string("/dev/hidraw0"));
        hid_free_enumeration(list);

        dongle.unplug();
        QVERIFY(hid_enumerate(0x7045, 0x1820) == nullptr);
        QVERIFY(hid_open_path("/dev/hidraw3") == nullptr);
        QVERIFY(dongle.misuses().empty());

        // A list freed twice is reported, not touched.
        dongle.plug();
        list = hid_enumerate(0x7045, 0x1820);
        hid_free_enumeration(list);
        hid_free_enumeration(list);
        QCOMPARE(dongle.misuses().size(), std::size_t(1));
    }

    void handlesAnswersAndUnplugging()
    {
        FakeDongle dongle;
        dongle.queueReads({ReadAnswer::keyEvent(0x10), ReadAnswer::shortRead(1)});
        hid_device *keys = hid_open_path("/dev/hidraw3");
        hid_device *keyboard = hid_open_path("/dev/hidraw2");
        QVERIFY(keys && keyboard);

        unsigned char buffer[64] = {0x12};
        QCOMPARE(hid_get_feature_report(keyboard, buffer, 64), -1); // does not answer 0x12
        QCOMPARE(hid_get_feature_report(keys, buffer, 64), 64);
        QCOMPARE(int(buffer[0]), 0xFE);
        QCOMPARE(int(buffer[1]), 0x10);
        buffer[0] = 0x12;
        QCOMPARE(hid_get_feature_report(keys, buffer, 64), 1);
        QCOMPARE(hid_get_feature_report(keys, buffer, 64), 64); // idle answer: no marker
        QCOMPARE(int(buffer[0]), 0x12);

        dongle.unplug();
        dongle.plug();
        QCOMPARE(hid_get_feature_report(keys, buffer, 64), -1); // dead after the unplug
        hid_device *again = hid_open(0x7045, 0x1820, nullptr);  // first entry: /dev/hidraw2
        QCOMPARE(dongle.openedPaths().back(), std::string("/dev/hidraw2"));
        hid_close(again);

        const unsigned char report[64] = {0x12, 0x05};
        hid_device *fresh = hid_open_path("/dev/hidraw3");
        dongle.queueWriteResult(-1);
        dongle.queueWriteResult(30);
        QCOMPARE(hid_send_feature_report(fresh, report, 64), -1);
        QCOMPARE(hid_send_feature_report(fresh, report, 64), 30);
        QCOMPARE(hid_send_feature_report(fresh, report, 64), 64);
        QCOMPARE(hid_send_feature_report(keys, report, 64), -1);
        const auto writes = dongle.featureWrites();
        QCOMPARE(writes.size(), std::size_t(4));
        QCOMPARE(writes[2].handle, 4);
        QCOMPARE(int(writes[2].bytes[1]), 0x05);

        QVERIFY(dongle.misuses().empty());
        QCOMPARE(dongle.handlesOpen(), 3);
        hid_close(keys);
        hid_close(keyboard);
        hid_close(fresh);
        hid_close(fresh);
        QCOMPARE(hid_get_feature_report(fresh, buffer, 64), -1);
        hid_close(nullptr);
        QCOMPARE(dongle.handlesOpen(), 0);
        QCOMPARE(dongle.misuses().size(), std::size_t(3)); // twice closed, used closed, NULL

        dongle.setOpenRefused(true);
        QVERIFY(hid_open_path("/dev/hidraw3") == nullptr);
    }

    void slowCallsAcrossThreads()
    {
        FakeDongle dongle;
        hid_device *device = hid_open_path("/dev/hidraw3");
        dongle.hold(Call::GetFeatureReport);
        int result = 0;
        std::thread reader([&] {
            unsigned char buffer[64] = {0x12};
            result = hid_get_feature_report(device, buffer, 64);
        });
        QVERIFY(dongle.waitUntilHeld(Call::GetFeatureReport, 5s));
        QCOMPARE(dongle.calls(Call::GetFeatureReport), 0);

        // A second thread in the same handle is reported.
        const unsigned char report[64] = {0x12};
        hid_send_feature_report(device, report, 64);
        QCOMPARE(dongle.misuses().size(), std::size_t(1));

        dongle.unplug(); // while the read waits: it fails once let through
        dongle.release(Call::GetFeatureReport);
        QVERIFY(dongle.waitForCalls(Call::GetFeatureReport, 1, 5s));
        reader.join();
        QCOMPARE(result, -1);

        dongle.plug();
        hid_close(device);
        device = hid_open_path("/dev/hidraw3");
        dongle.setDelay(Call::GetFeatureReport, 100ms);
        const auto before = std::chrono::steady_clock::now();
        unsigned char buffer[64] = {0x12};
        QCOMPARE(hid_get_feature_report(device, buffer, 64), 64);
        QVERIFY(std::chrono::steady_clock::now() - before >= 100ms);
        hid_close(device);
        QCOMPARE(dongle.handlesOpen(), 0);
    }
};

QTEST_APPLESS_MAIN(TestFakeDongle)
#include "tst_fakedongle.moc"
