#include "device/presenterreport.h"

namespace PresenterReport {

Report sleepTimeReport(int value)
{
    Report report{};
    report[0] = ReportId;
    report[1] = static_cast<unsigned char>(value & 0xFF);
    report[2] = static_cast<unsigned char>((value >> 8) & 0xFF);
    return report;
}

std::optional<int> keyEventParam(int count, const unsigned char *answer)
{
    if (isFailedRead(count) || answer[0] != KeyEventMarker)
        return std::nullopt;
    return (answer[1] << 8) | answer[0];
}

} // namespace PresenterReport
