#include "overlay/x11/x11windowstack.h"

#include <algorithm>
#include <iterator>

// Xlib last: its macros (None, Bool, Status, ...) clash with Qt's names.
#include <X11/Xlib.h>

X11WindowStack::X11WindowStack(Display *display, unsigned long root)
    : m_display(display), m_root(root)
{
}

void X11WindowStack::setOwn(const std::vector<unsigned long> &own)
{
    m_own = own;
    m_stale = true;
    m_ownStale = true;
}

void X11WindowStack::clear()
{
    m_known.clear();
    m_stack.clear();
    m_stale = true;
    m_ownStale = true;
}

void *X11WindowStack::visualOf(unsigned long window) const
{
    const auto known = m_known.find(window);
    return known == m_known.end() ? nullptr : known->second.visual;
}

bool X11WindowStack::handleEvent(const XEvent &event)
{
    unsigned long changedWindow = 0;
    switch (event.type) {
    case MapNotify:
        if (!updateKnown(event.xmap.window,
                         [](X11LiveArea::StackedWindow &w) { w.viewable = true; }))
            changedWindow = event.xmap.window;
        break;
    case UnmapNotify:
        if (!updateKnown(event.xunmap.window,
                         [](X11LiveArea::StackedWindow &w) { w.viewable = false; }))
            changedWindow = event.xunmap.window;
        break;
    case ConfigureNotify: {
        const XConfigureEvent &c = event.xconfigure;
        const QRect geometry(c.x + c.border_width, c.y + c.border_width, c.width, c.height);
        if (c.window == m_root || !restack(c.window, c.above) ||
            !updateKnown(c.window, [&](X11LiveArea::StackedWindow &w) { w.geometry = geometry; }))
            changedWindow = c.window;
        break;
    }
    case CirculateNotify:
        changedWindow = event.xcirculate.window;
        break;
    case GravityNotify:
        changedWindow = event.xgravity.window;
        break;
    case CreateNotify:
        changedWindow = event.xcreatewindow.window;
        break;
    case DestroyNotify:
        changedWindow = event.xdestroywindow.window;
        break;
    case ReparentNotify:
        // A window manager framing the overlay's windows: their top-level frames change.
        changedWindow = event.xreparent.window;
        m_ownStale = true;
        break;
    default:
        return false;
    }
    if (changedWindow != 0) {
        m_known.erase(changedWindow);
        m_stale = true;
    }
    return true;
}

bool X11WindowStack::updateKnown(unsigned long window,
                                 const std::function<void(X11LiveArea::StackedWindow &)> &change)
{
    const auto known = m_known.find(window);
    const auto stacked = std::find_if(m_stack.begin(), m_stack.end(),
                                      [window](const auto &w) { return w.id == window; });
    if (m_stale || known == m_known.end() || stacked == m_stack.end())
        return false;
    change(known->second.window);
    *stacked = known->second.window;
    return true;
}

bool X11WindowStack::restack(unsigned long window, unsigned long sibling)
{
    const auto byId = [](unsigned long id) {
        return [id](const X11LiveArea::StackedWindow &w) { return w.id == id; };
    };
    auto stacked = std::find_if(m_stack.begin(), m_stack.end(), byId(window));
    if (m_stale || stacked == m_stack.end())
        return false;
    // The bottom window has no sibling beneath it.
    if (stacked == m_stack.begin() ? sibling == 0 : std::prev(stacked)->id == sibling)
        return true;
    const X11LiveArea::StackedWindow moved = *stacked;
    m_stack.erase(stacked);
    auto beneath = sibling == 0 ? m_stack.begin()
                                : std::find_if(m_stack.begin(), m_stack.end(), byId(sibling));
    if (beneath == m_stack.end())
        return false; // a sibling this list does not hold: listed again
    m_stack.insert(sibling == 0 ? beneath : std::next(beneath), moved);
    return true;
}

bool X11WindowStack::refresh()
{
    if (!m_stale && !m_ownStale)
        return false;
    if (m_stale)
        listWindows();
    if (m_ownStale)
        resolveOwnTopLevels();
    return true;
}

void X11WindowStack::listWindows()
{
    m_stale = false;
    Window root = 0;
    Window parent = 0;
    Window *children = nullptr;
    unsigned int count = 0;
    m_stack.clear();
    if (XQueryTree(m_display, m_root, &root, &parent, &children, &count)) {
        // Windows reach beyond the root's edges; only what lies on it can be read.
        int x = 0;
        int y = 0;
        unsigned int width = 0;
        unsigned int height = 0;
        unsigned int border = 0;
        unsigned int depth = 0;
        if (XGetGeometry(m_display, m_root, &root, &x, &y, &width, &height, &border, &depth))
            m_rootRect = QRect(0, 0, static_cast<int>(width), static_cast<int>(height));
        std::map<unsigned long, Known> known;
        for (unsigned int i = 0; i < count; ++i) {
            const Window id = children[i];
            auto it = m_known.find(id);
            if (it == m_known.end()) {
                XWindowAttributes attributes;
                if (!XGetWindowAttributes(m_display, id, &attributes))
                    continue; // gone since it was listed
                Known entry;
                entry.window.id = id;
                entry.window.inputOutput = attributes.c_class == InputOutput;
                entry.window.viewable = attributes.map_state == IsViewable;
                entry.window.geometry = QRect(attributes.x + attributes.border_width,
                                              attributes.y + attributes.border_width,
                                              attributes.width, attributes.height);
                entry.window.depth = attributes.depth;
                entry.visual = attributes.visual;
                it = m_known.emplace(id, entry).first;
            }
            known.emplace(id, it->second);
            m_stack.push_back(it->second.window);
        }
        if (children)
            XFree(children);
        m_known.swap(known);
    }
}

void X11WindowStack::resolveOwnTopLevels()
{
    // A window manager puts managed windows into frames of its own: the frame is what the
    // root's list holds, and what shows the overlay.
    m_ownStale = false;
    m_ownTopLevels = m_own;
    for (const unsigned long own : m_own) {
        Window window = own;
        for (int depth = 0; depth < 16; ++depth) {
            Window root = 0;
            Window parent = 0;
            Window *children = nullptr;
            unsigned int count = 0;
            if (!XQueryTree(m_display, window, &root, &parent, &children, &count))
                break;
            if (children)
                XFree(children);
            if (parent == 0 || parent == root) {
                if (window != own)
                    m_ownTopLevels.push_back(window);
                break;
            }
            window = parent;
        }
    }
}
