#pragma once

#include <array>
#include <optional>

// The presenter's dongle and its one exchange with the program, feature report 0x12: polled
// for key events by the device thread and written with the sleep time. Shared by the device
// thread and the settings window, so both read the bytes the same way.
namespace PresenterReport {

constexpr unsigned short VendorId = 0x7045;
constexpr unsigned short ProductId = 0x1820;

constexpr unsigned char ReportId = 0x12;
constexpr int ReportSize = 64;

// Byte 0 of a poll answer that carries a key event; byte 1 then holds the key bits.
constexpr unsigned char KeyEventMarker = 0xFE;

using Report = std::array<unsigned char, ReportSize>;

// The sleep-timer report: the identifier, the value as a 16-bit little-endian number, zeros.
Report sleepTimeReport(int value);

// A feature read yields its count including the identifier byte, or -1. Anything below two
// bytes carries no answer and means the dongle is gone (or never was the right interface).
constexpr bool isFailedRead(int count)
{
    return count <= 1;
}

// The HidKeyEvent parameter of a poll answer, (key byte << 8) | 0xFE, or nothing when the
// read failed or the answer carries no key event.
std::optional<int> keyEventParam(int count, const unsigned char *answer);

// The key bits (see KeyBit) of a HidKeyEvent parameter; its low byte is only the marker.
constexpr int keyByte(int param)
{
    return (param >> 8) & 0xFF;
}

} // namespace PresenterReport
