// hidapi's C entry points, served by the current fake dongle (fakedongle.h). Only the calls
// the program makes, plus hid_open and hid_init for completeness of the opening calls.
#include "fakedongle.h"

#include <hidapi.h>

extern "C" {

int HID_API_EXPORT HID_API_CALL hid_init(void)
{
    return fakehid::api::init();
}

int HID_API_EXPORT HID_API_CALL hid_exit(void)
{
    return fakehid::api::exit();
}

struct hid_device_info HID_API_EXPORT *HID_API_CALL hid_enumerate(unsigned short vendor_id,
                                                                  unsigned short product_id)
{
    return fakehid::api::enumerate(vendor_id, product_id);
}

void HID_API_EXPORT HID_API_CALL hid_free_enumeration(struct hid_device_info *devs)
{
    fakehid::api::freeEnumeration(devs);
}

HID_API_EXPORT hid_device *HID_API_CALL hid_open(unsigned short vendor_id,
                                                 unsigned short product_id,
                                                 const wchar_t *serial_number)
{
    return fakehid::api::open(vendor_id, product_id, serial_number);
}

HID_API_EXPORT hid_device *HID_API_CALL hid_open_path(const char *path)
{
    return fakehid::api::openPath(path);
}

void HID_API_EXPORT HID_API_CALL hid_close(hid_device *dev)
{
    fakehid::api::close(dev);
}

int HID_API_EXPORT HID_API_CALL hid_get_feature_report(hid_device *dev, unsigned char *data,
                                                       size_t length)
{
    return fakehid::api::getFeatureReport(dev, data, length);
}

int HID_API_EXPORT HID_API_CALL hid_send_feature_report(hid_device *dev, const unsigned char *data,
                                                        size_t length)
{
    return fakehid::api::sendFeatureReport(dev, data, length);
}

HID_API_EXPORT const wchar_t *HID_API_CALL hid_error(hid_device *dev)
{
    return fakehid::api::error(dev);
}

} // extern "C"
