#pragma once

#include <string>
#include <vector>

// Which of the dongle's HID interfaces to open. Only its fourth top-level collection answers
// the key report. On Windows every collection is an interface of its own whose path ends in
// "&colNN"; the last path containing "&col04" wins. The hidraw backend (and macOS) list one
// entry per top-level collection of an interface, all with the same path and no suffix, so
// there an interface listed four or more times is the one that holds a fourth collection
// (the last such wins). Failing both, the first enumerated interface is opened.
namespace DongleSelection {

constexpr const char *FourthCollectionTag = "&col04";
constexpr int FourthCollection = 4;

// Index into `paths` (the dongle's enumeration entries, in order) of the entry to open, or -1
// when there is none.
int choose(const std::vector<std::string> &paths);

} // namespace DongleSelection
