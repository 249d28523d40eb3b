// Entry of the preloadable library: one virtual presenter for the process it is loaded into,
// created when the library is loaded and stopped when the process ends.
#include "virtualpresenter.h"

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

std::unique_ptr<VirtualPresenter> makePresenter()
{
    const char *control = std::getenv("KAVRI_VDONGLE");
    const char *start = std::getenv("KAVRI_VDONGLE_START");
    const bool plugged = !(start && std::strcmp(start, "unplugged") == 0);
    return std::make_unique<VirtualPresenter>(
        control && *control ? std::string(control) : VirtualPresenter::defaultControlPath(),
        plugged);
}

const std::unique_ptr<VirtualPresenter> presenter = makePresenter();

} // namespace
