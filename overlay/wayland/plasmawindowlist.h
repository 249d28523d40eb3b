#pragma once

#include "overlay/wayland/windowplacement.h"

#include <QStringList>

#include <memory>
#include <vector>

class WaylandClient;
struct org_kde_plasma_window;
struct org_kde_plasma_window_management;

// KWin's list of windows (org_kde_plasma_window_management), kept up to date from its events:
// each window's place, process and state, and how they are stacked. KWin offers the list only
// to programs it trusts (see KWinLiveSource).
class PlasmaWindowList final
{
public:
    // The list on `client`'s connection (which must outlive it), or null where the compositor
    // does not offer it to this program.
    static std::unique_ptr<PlasmaWindowList> bind(WaylandClient *client);
    ~PlasmaWindowList();
    PlasmaWindowList(const PlasmaWindowList &) = delete;
    PlasmaWindowList &operator=(const PlasmaWindowList &) = delete;

    // The windows described so far, bottom to top; those KWin has not stacked yet go on top.
    std::vector<WindowPlacement::Window> stack() const;

private:
    struct Entry
    {
        PlasmaWindowList *list = nullptr;
        org_kde_plasma_window *proxy = nullptr;
        WindowPlacement::Window window;
        bool described = false; // initial_state came
        bool minimized = false;
    };
    PlasmaWindowList() = default;
    void add(const char *uuid);
    void remove(Entry *entry);

    org_kde_plasma_window_management *m_manager = nullptr;
    std::vector<std::unique_ptr<Entry>> m_entries;
    QStringList m_stacking; // bottom to top

    friend struct PlasmaWindowListeners;
};
