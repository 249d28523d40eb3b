#include "device/dongleselection.h"

#include <algorithm>

namespace DongleSelection {

int choose(const std::vector<std::string> &paths)
{
    const int count = static_cast<int>(paths.size());
    if (count == 0)
        return -1;

    for (int i = count - 1; i >= 0; --i) {
        if (paths[i].find(FourthCollectionTag) != std::string::npos)
            return i;
    }

    // Interfaces in order of their first entry; the last one listed often enough wins.
    int chosen = -1;
    for (int i = 0; i < count; ++i) {
        const auto first = paths.begin() + i;
        if (std::find(paths.begin(), first, paths[i]) != first)
            continue; // not the interface's first entry
        if (std::count(first, paths.end(), paths[i]) >= FourthCollection)
            chosen = i;
    }
    return chosen >= 0 ? chosen : 0;
}

} // namespace DongleSelection
