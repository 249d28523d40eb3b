#include "overlay/wayland/plasmawindowlist.h"

#include "overlay/wayland/waylandclient.h"

#include "plasma-window-management-client-protocol.h"

#include <wayland-client.h>

#include <algorithm>

struct PlasmaWindowListeners
{
    using List = PlasmaWindowList;
    using Entry = PlasmaWindowList::Entry;

    static void showDesktopChanged(void *, org_kde_plasma_window_management *, uint32_t) {}
    static void window(void *, org_kde_plasma_window_management *, uint32_t) {}
    static void stackingOrderChanged(void *, org_kde_plasma_window_management *, wl_array *) {}
    static void stackingOrderUuidChanged(void *data, org_kde_plasma_window_management *,
                                         const char *uuids)
    {
        static_cast<List *>(data)->m_stacking =
            QString::fromUtf8(uuids).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    }
    static void windowWithUuid(void *data, org_kde_plasma_window_management *, uint32_t,
                               const char *uuid)
    {
        static_cast<List *>(data)->add(uuid);
    }

    static void title(void *, org_kde_plasma_window *, const char *) {}
    static void appId(void *, org_kde_plasma_window *, const char *) {}
    static void state(void *data, org_kde_plasma_window *, uint32_t flags)
    {
        auto *entry = static_cast<Entry *>(data);
        entry->minimized = flags & ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_MINIMIZED;
        update(entry);
    }
    static void desktop(void *, org_kde_plasma_window *, int32_t) {}
    static void iconName(void *, org_kde_plasma_window *, const char *) {}
    static void unmapped(void *data, org_kde_plasma_window *)
    {
        auto *entry = static_cast<Entry *>(data);
        entry->list->remove(entry);
    }
    static void initialState(void *data, org_kde_plasma_window *)
    {
        auto *entry = static_cast<Entry *>(data);
        entry->described = true;
        update(entry);
    }
    static void parent(void *, org_kde_plasma_window *, org_kde_plasma_window *) {}
    static void geometry(void *data, org_kde_plasma_window *, int32_t x, int32_t y, uint32_t w,
                         uint32_t h)
    {
        static_cast<Entry *>(data)->window.geometry = QRect(x, y, int(w), int(h));
    }
    static void iconChanged(void *, org_kde_plasma_window *) {}
    static void pid(void *data, org_kde_plasma_window *, uint32_t pid)
    {
        static_cast<Entry *>(data)->window.pid = pid;
    }
    static void desktopEntered(void *, org_kde_plasma_window *, const char *) {}
    static void desktopLeft(void *, org_kde_plasma_window *, const char *) {}
    static void menu(void *, org_kde_plasma_window *, const char *, const char *) {}
    static void activityEntered(void *, org_kde_plasma_window *, const char *) {}
    static void activityLeft(void *, org_kde_plasma_window *, const char *) {}
    static void resourceName(void *, org_kde_plasma_window *, const char *) {}

    static void update(Entry *entry)
    {
        entry->window.shown = entry->described && !entry->minimized;
    }
};

namespace {

const org_kde_plasma_window_management_listener ManagerListener = {
    PlasmaWindowListeners::showDesktopChanged, PlasmaWindowListeners::window,
    PlasmaWindowListeners::stackingOrderChanged, PlasmaWindowListeners::stackingOrderUuidChanged,
    PlasmaWindowListeners::windowWithUuid};
const org_kde_plasma_window_listener WindowListener = {
    PlasmaWindowListeners::title,          PlasmaWindowListeners::appId,
    PlasmaWindowListeners::state,          PlasmaWindowListeners::desktop,
    PlasmaWindowListeners::iconName,       PlasmaWindowListeners::unmapped,
    PlasmaWindowListeners::initialState,   PlasmaWindowListeners::parent,
    PlasmaWindowListeners::geometry,       PlasmaWindowListeners::iconChanged,
    PlasmaWindowListeners::pid,            PlasmaWindowListeners::desktopEntered,
    PlasmaWindowListeners::desktopLeft,    PlasmaWindowListeners::menu,
    PlasmaWindowListeners::activityEntered, PlasmaWindowListeners::activityLeft,
    PlasmaWindowListeners::resourceName};

// Windows by uuid (get_window_by_uuid) and the stacking by uuid: version 13.
constexpr uint32_t NeededVersion = 13;

} // namespace

std::unique_ptr<PlasmaWindowList> PlasmaWindowList::bind(WaylandClient *client)
{
    uint32_t version = 0;
    auto *manager = static_cast<org_kde_plasma_window_management *>(
        client->bindGlobal(&org_kde_plasma_window_management_interface, 16, &version));
    if (!manager)
        return nullptr;
    if (version < NeededVersion) {
        org_kde_plasma_window_management_destroy(manager);
        return nullptr;
    }
    std::unique_ptr<PlasmaWindowList> list(new PlasmaWindowList);
    list->m_manager = manager;
    org_kde_plasma_window_management_add_listener(manager, &ManagerListener, list.get());
    client->flush();
    return list;
}

PlasmaWindowList::~PlasmaWindowList()
{
    for (const auto &entry : m_entries)
        org_kde_plasma_window_destroy(entry->proxy);
    if (m_manager)
        org_kde_plasma_window_management_destroy(m_manager);
}

void PlasmaWindowList::add(const char *uuid)
{
    auto entry = std::make_unique<Entry>();
    entry->list = this;
    entry->window.uuid = QString::fromUtf8(uuid);
    entry->window.shown = false;
    entry->proxy = org_kde_plasma_window_management_get_window_by_uuid(m_manager, uuid);
    org_kde_plasma_window_add_listener(entry->proxy, &WindowListener, entry.get());
    m_entries.push_back(std::move(entry));
}

void PlasmaWindowList::remove(Entry *entry)
{
    const auto it = std::find_if(m_entries.begin(), m_entries.end(),
                                 [entry](const auto &each) { return each.get() == entry; });
    if (it == m_entries.end())
        return;
    org_kde_plasma_window_destroy(entry->proxy);
    m_entries.erase(it);
}

std::vector<WindowPlacement::Window> PlasmaWindowList::stack() const
{
    std::vector<WindowPlacement::Window> stacked;
    std::vector<const Entry *> unstacked;
    for (const auto &entry : m_entries)
        unstacked.push_back(entry.get());
    for (const QString &uuid : m_stacking) {
        const auto it = std::find_if(unstacked.begin(), unstacked.end(),
                                     [&uuid](const Entry *e) { return e->window.uuid == uuid; });
        if (it == unstacked.end())
            continue;
        stacked.push_back((*it)->window);
        unstacked.erase(it);
    }
    for (const Entry *entry : unstacked)
        stacked.push_back(entry->window);
    return stacked;
}
