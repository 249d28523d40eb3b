#include "overlay/x11/x11windowstack.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <memory>

// Xlib last: its macros (None, Bool, Status, ...) clash with Qt's names.
#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <xcb/xcb.h>

namespace {

// An XCB reply or error, freed with free().
template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T> Reply<T> own(T *reply)
{
    return Reply<T>(reply, &std::free);
}

} // namespace

X11WindowStack::X11WindowStack(Display *display, unsigned long root)
    : m_display(display), m_root(root)
{
}

void X11WindowStack::setOwn(const std::vector<unsigned long> &own)
{
    if (own == m_own)
        return;
    m_own = own;
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
    // The requests go out together and their answers are read together: one wait for the
    // server however many windows there are, where Xlib would wait twice for each. The server
    // may be busy compositing a 4K screen, and each wait stalls the program.
    m_stale = false;
    m_stack.clear();
    xcb_connection_t *connection = XGetXCBConnection(m_display);
    const auto treeAsked = xcb_query_tree(connection, static_cast<xcb_window_t>(m_root));
    const auto rootAsked = xcb_get_geometry(connection, static_cast<xcb_window_t>(m_root));
    // The overlay's parents go in the same wait: a window manager's frame is a child of the
    // root, or the window itself is.
    std::vector<xcb_query_tree_cookie_t> parentsAsked;
    if (m_ownStale) {
        for (const unsigned long window : m_own)
            parentsAsked.push_back(xcb_query_tree(connection, static_cast<xcb_window_t>(window)));
    }
    xcb_generic_error_t *error = nullptr;
    const auto tree = own(xcb_query_tree_reply(connection, treeAsked, &error));
    std::free(error);
    error = nullptr;
    // Windows reach beyond the root's edges; only what lies on it can be read.
    if (const auto root = own(xcb_get_geometry_reply(connection, rootAsked, &error)))
        m_rootRect = QRect(0, 0, root->width, root->height);
    std::free(error);
    const xcb_window_t *children = tree ? xcb_query_tree_children(tree.get()) : nullptr;
    const int count = tree ? xcb_query_tree_children_length(tree.get()) : 0;
    if (m_ownStale) {
        m_ownStale = false;
        m_ownTopLevels = m_own;
        for (size_t i = 0; i < parentsAsked.size(); ++i) {
            const auto parents = own(xcb_query_tree_reply(connection, parentsAsked[i], &error));
            std::free(error);
            error = nullptr;
            const unsigned long parent = parents ? parents->parent : 0;
            if (parent == 0 || parent == m_root)
                continue;
            if (std::find(children, children + count, parent) != children + count)
                m_ownTopLevels.push_back(parent);
            else
                resolveTopLevel(m_own[i], parent); // frames within frames
        }
    }
    if (!tree)
        return;
    struct Asked
    {
        xcb_get_window_attributes_cookie_t attributes;
        xcb_get_geometry_cookie_t geometry;
    };
    std::map<unsigned long, Asked> asked;
    for (int i = 0; i < count; ++i) {
        if (m_known.count(children[i]) == 0)
            asked.emplace(children[i], Asked{xcb_get_window_attributes(connection, children[i]),
                                             xcb_get_geometry(connection, children[i])});
    }
    std::map<unsigned long, Known> known;
    for (int i = 0; i < count; ++i) {
        const unsigned long id = children[i];
        auto it = m_known.find(id);
        const auto ask = asked.find(id);
        if (ask != asked.end()) {
            // A window gone since it was listed answers with an error: left out.
            xcb_generic_error_t *attributesError = nullptr;
            xcb_generic_error_t *geometryError = nullptr;
            const auto attributes = own(xcb_get_window_attributes_reply(
                connection, ask->second.attributes, &attributesError));
            const auto geometry =
                own(xcb_get_geometry_reply(connection, ask->second.geometry, &geometryError));
            std::free(attributesError);
            std::free(geometryError);
            if (!attributes || !geometry)
                continue;
            Known entry;
            entry.window.id = id;
            entry.window.inputOutput = attributes->_class == XCB_WINDOW_CLASS_INPUT_OUTPUT;
            entry.window.viewable = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
            entry.window.geometry =
                QRect(geometry->x + geometry->border_width, geometry->y + geometry->border_width,
                      geometry->width, geometry->height);
            entry.window.depth = geometry->depth;
            entry.visual = visualFor(attributes->visual);
            it = m_known.emplace(id, entry).first;
        }
        if (it == m_known.end())
            continue;
        known.emplace(id, it->second);
        m_stack.push_back(it->second.window);
    }
    m_known.swap(known);
}

void *X11WindowStack::visualFor(unsigned long visualId)
{
    // Xlib holds the screens' visuals since the connection was made: no request.
    const auto cached = m_visuals.find(visualId);
    if (cached != m_visuals.end())
        return cached->second;
    XVisualInfo wanted;
    wanted.visualid = visualId;
    int count = 0;
    XVisualInfo *found = XGetVisualInfo(m_display, VisualIDMask, &wanted, &count);
    Visual *visual = found && count > 0 ? found->visual : nullptr;
    if (found)
        XFree(found);
    m_visuals.emplace(visualId, visual);
    return visual;
}

void X11WindowStack::resolveOwnTopLevels()
{
    // A window manager puts managed windows into frames of its own: the frame is what the
    // root's list holds, and what shows the overlay.
    m_ownStale = false;
    m_ownTopLevels = m_own;
    for (const unsigned long own : m_own)
        resolveTopLevel(own, own);
}

void X11WindowStack::resolveTopLevel(unsigned long own, unsigned long from)
{
    Window window = from;
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
