#include "Screenshot.h"

#include <algorithm>
#include <set>
#include <thread>
#include <xcb/composite.h>
#include <xcb/render.h>

namespace tarvine::adapters::x11 {

namespace {

using TopLevel = Screenshots::TopLevel;

// Once windows' contents are kept off screen, the parts that were hidden arrive as the
// applications redraw them; a screenshot taken at once waits this long for that, once.
constexpr auto redrawAllowance = std::chrono::milliseconds(200);

bool hasAtom(const std::optional<std::vector<std::uint32_t>>& list, xcb_atom_t atom) {
    return list && std::find(list->begin(), list->end(), atom) != list->end();
}

std::optional<std::int32_t> firstValue(const std::optional<std::vector<std::uint32_t>>& values) {
    if (!values || values->empty()) return std::nullopt;
    return static_cast<std::int32_t>((*values)[0]);
}

std::vector<xcb_window_t> childrenOfRoot(Connection& x, Deadline deadline) {
    auto tree = await<xcb_query_tree_reply_t>(x.xcb(), xcb_query_tree(x.xcb(), x.root()), deadline);
    if (!tree) return {};
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    return std::vector<xcb_window_t>(children,
                                     children + xcb_query_tree_children_length(tree.get()));
}

// Each client window's top-level ancestor: window managers put clients into frames, a level
// or two below the root.
std::map<xcb_window_t, xcb_window_t>
topLevelsOf(Connection& x, const std::vector<xcb_window_t>& clients, Deadline deadline) {
    std::map<xcb_window_t, xcb_window_t> found;
    std::vector<std::pair<xcb_window_t, xcb_window_t>> climbing; // client, current window
    for (auto client : clients)
        climbing.emplace_back(client, client);
    for (int level = 0; level < 4 && !climbing.empty(); ++level) {
        std::vector<xcb_query_tree_cookie_t> cookies;
        for (auto [client, at] : climbing)
            cookies.push_back(xcb_query_tree(x.xcb(), at));
        std::vector<std::pair<xcb_window_t, xcb_window_t>> next;
        for (std::size_t i = 0; i < climbing.size(); ++i) {
            auto tree = await<xcb_query_tree_reply_t>(x.xcb(), cookies[i], deadline);
            if (!tree) continue;
            if (tree->parent == x.root())
                found[climbing[i].second] = climbing[i].first;
            else
                next.emplace_back(climbing[i].first, tree->parent);
        }
        climbing = std::move(next);
    }
    return found; // top-level -> client
}

std::vector<TopLevel> mappedTopLevels(Connection& x, const DesktopAtoms& atoms, Deadline deadline) {
    const auto children = childrenOfRoot(x, deadline);
    struct Asked {
        xcb_get_window_attributes_cookie_t attributes;
        xcb_get_geometry_cookie_t geometry;
        xcb_get_property_cookie_t pid;
    };
    std::vector<Asked> asked;
    asked.reserve(children.size());
    for (auto window : children)
        asked.push_back({xcb_get_window_attributes(x.xcb(), window),
                         xcb_get_geometry(x.xcb(), window),
                         askProperty(x.xcb(), window, atoms.wmPid, XCB_ATOM_CARDINAL, 1)});
    std::vector<TopLevel> mapped;
    for (std::size_t i = 0; i < children.size(); ++i) {
        auto attributes =
            await<xcb_get_window_attributes_reply_t>(x.xcb(), asked[i].attributes, deadline);
        auto geometry = await<xcb_get_geometry_reply_t>(x.xcb(), asked[i].geometry, deadline);
        auto pid = await<xcb_get_property_reply_t>(x.xcb(), asked[i].pid, deadline);
        if (!attributes || !geometry || attributes->map_state != XCB_MAP_STATE_VIEWABLE ||
            attributes->_class != XCB_WINDOW_CLASS_INPUT_OUTPUT)
            continue;
        const int border = geometry->border_width;
        mapped.push_back({children[i],
                          {geometry->x, geometry->y, geometry->width + 2 * border,
                           geometry->height + 2 * border},
                          attributes->visual,
                          geometry->depth,
                          firstValue(cardinalsIn(pid, XCB_ATOM_CARDINAL)),
                          std::nullopt});
    }
    // A frame carries no process id of its own: it takes its client's.
    const auto clients = clientWindows(x, atoms, deadline);
    const auto owners = topLevelsOf(x, clients, deadline);
    std::vector<std::pair<std::size_t, xcb_get_property_cookie_t>> pidCookies;
    for (std::size_t i = 0; i < mapped.size(); ++i) {
        auto owner = owners.find(mapped[i].window);
        if (owner == owners.end()) continue;
        mapped[i].client = owner->second;
        if (!mapped[i].pid)
            pidCookies.emplace_back(
                i, askProperty(x.xcb(), owner->second, atoms.wmPid, XCB_ATOM_CARDINAL, 1));
    }
    for (auto [i, cookie] : pidCookies)
        mapped[i].pid = firstValue(cardinalsIn(
            await<xcb_get_property_reply_t>(x.xcb(), cookie, deadline), XCB_ATOM_CARDINAL));
    return mapped;
}

std::optional<xcb_pixmap_t> rootPixmap(Connection& x, const DesktopAtoms& atoms,
                                       Deadline deadline) {
    auto value = cardinalsIn(
        await<xcb_get_property_reply_t>(
            x.xcb(), askProperty(x.xcb(), x.root(), atoms.rootPixmap, XCB_ATOM_PIXMAP, 1),
            deadline),
        XCB_ATOM_PIXMAP);
    if (!value || value->empty() || (*value)[0] == XCB_PIXMAP_NONE) return std::nullopt;
    return (*value)[0];
}

// Render objects released in reverse order of creation, whatever happens in between.
class RenderScope {
public:
    explicit RenderScope(Connection& x) : x_(x) {}
    ~RenderScope() {
        for (auto it = pictures_.rbegin(); it != pictures_.rend(); ++it)
            xcb_render_free_picture(x_.xcb(), *it);
        for (auto it = pixmaps_.rbegin(); it != pixmaps_.rend(); ++it)
            xcb_free_pixmap(x_.xcb(), *it);
        xcb_flush(x_.xcb());
    }
    RenderScope(const RenderScope&) = delete;
    RenderScope& operator=(const RenderScope&) = delete;

    xcb_pixmap_t pixmap() { return pixmaps_.emplace_back(xcb_generate_id(x_.xcb())); }
    xcb_render_picture_t picture() { return pictures_.emplace_back(xcb_generate_id(x_.xcb())); }

private:
    Connection& x_;
    std::vector<xcb_pixmap_t> pixmaps_;
    std::vector<xcb_render_picture_t> pictures_;
};

std::optional<platform::ShareableApplication>
applicationOf(std::optional<std::int32_t> pid, const std::optional<std::string>& wmClass) {
    if (!pid) return std::nullopt;
    platform::ShareableApplication application;
    application.processID = *pid;
    if (wmClass) {
        // WM_CLASS holds the instance and the class, each ended by a zero byte.
        const auto split = wmClass->find('\0');
        application.bundleIdentifier = wmClass->substr(0, split);
        if (split != std::string::npos) {
            application.applicationName = wmClass->substr(split + 1);
            if (auto end = application.applicationName.find('\0'); end != std::string::npos)
                application.applicationName.resize(end);
        }
    }
    return application;
}

} // namespace

platform::ShareableContent Screenshots::shareableContent() {
    std::lock_guard guard(session_.lock());
    Connection* x = session_.connection();
    if (!x) return {};
    try {
        return content(*x, deadlineFromNow());
    } catch (const PlatformError&) {
        session_.reset();
        throw;
    }
}

platform::ShareableContent Screenshots::content(Connection& x, Deadline deadline) {
    const DesktopAtoms& atoms = session_.atoms();
    const Layout layout = readLayout(x, atoms, false, deadline);
    platform::ShareableContent content;
    for (const auto& monitor : layout.monitors)
        content.displays.push_back({monitor.name, layout.toGlobal(monitor.area)});

    const auto clients = clientWindows(x, atoms, deadline);
    struct Asked {
        xcb_get_window_attributes_cookie_t attributes;
        xcb_get_property_cookie_t pid, wmClass, netName, name, types, states;
    };
    std::vector<Asked> asked;
    for (auto window : clients)
        asked.push_back({xcb_get_window_attributes(x.xcb(), window),
                         askProperty(x.xcb(), window, atoms.wmPid, XCB_ATOM_CARDINAL, 1),
                         askProperty(x.xcb(), window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING),
                         askProperty(x.xcb(), window, atoms.wmName, atoms.utf8String),
                         askProperty(x.xcb(), window, XCB_ATOM_WM_NAME),
                         askProperty(x.xcb(), window, atoms.wmWindowType, XCB_ATOM_ATOM),
                         askProperty(x.xcb(), window, atoms.wmState, XCB_ATOM_ATOM)});
    std::set<std::int32_t> seen;
    bool desktopWindow = false;
    // The stacking list runs bottom to top; the content runs front to back.
    for (std::size_t n = clients.size(); n-- > 0;) {
        const auto& a = asked[n];
        auto attributes = await<xcb_get_window_attributes_reply_t>(x.xcb(), a.attributes, deadline);
        auto pid = firstValue(cardinalsIn(await<xcb_get_property_reply_t>(x.xcb(), a.pid, deadline),
                                          XCB_ATOM_CARDINAL));
        auto wmClass = textIn(await<xcb_get_property_reply_t>(x.xcb(), a.wmClass, deadline));
        auto title = textIn(await<xcb_get_property_reply_t>(x.xcb(), a.netName, deadline));
        auto plainTitle = textIn(await<xcb_get_property_reply_t>(x.xcb(), a.name, deadline));
        auto types =
            cardinalsIn(await<xcb_get_property_reply_t>(x.xcb(), a.types, deadline), XCB_ATOM_ATOM);
        auto states = cardinalsIn(await<xcb_get_property_reply_t>(x.xcb(), a.states, deadline),
                                  XCB_ATOM_ATOM);
        if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE ||
            hasAtom(states, atoms.stateHidden))
            continue;
        auto frame = frameOf(x, atoms, clients[n], deadline);
        if (!frame) continue;
        platform::ShareableWindow window;
        window.windowID = clients[n];
        window.frame = layout.toGlobal(*frame);
        window.title = title ? title : plainTitle;
        window.owningApplication = applicationOf(pid, wmClass);
        window.desktopPicture = hasAtom(types, atoms.typeDesktop);
        desktopWindow = desktopWindow || window.desktopPicture;
        if (window.owningApplication && seen.insert(*pid).second)
            content.applications.push_back(*window.owningApplication);
        content.windows.push_back(std::move(window));
    }
    // Menus and tooltips are no clients of the window manager, but their processes still
    // have to be found to leave them out.
    for (const auto& top : mappedTopLevels(x, atoms, deadline))
        if (top.pid && seen.insert(*top.pid).second)
            content.applications.push_back({*top.pid, "", ""});
    // Without a desktop window, the root background shows the desktop picture: one piece of
    // it per display.
    if (!desktopWindow && rootPixmap(x, atoms, deadline))
        for (const auto& display : content.displays) {
            platform::ShareableWindow piece;
            piece.windowID = x.root();
            piece.frame = display.frame;
            piece.title = "Desktop";
            piece.desktopPicture = true;
            content.windows.push_back(piece);
        }
    return content;
}

Image Screenshots::screenshot(const platform::ContentFilter& filter, int width, int height) {
    if (width <= 0 || height <= 0) throw PlatformError("X11", "The requested image size is empty.");
    std::lock_guard guard(session_.lock());
    Connection* x = session_.connection();
    if (!x) throw PlatformError("X11", "No display is reachable.");
    if (session_.fresh()) {
        pixels_.forget();
        kept_ = false;
        visualFormats_.clear();
        depthFormats_.clear();
    }
    try {
        return capture(*x, filter, width, height, deadlineFromNow());
    } catch (const PlatformError&) {
        session_.reset();
        throw;
    }
}

Image Screenshots::capture(Connection& x, const platform::ContentFilter& filter, int width,
                           int height, Deadline deadline) {
    const DesktopAtoms& atoms = session_.atoms();
    const Layout layout = readLayout(x, atoms, false, deadline);
    const bool justKept = keepWindowContents(x, deadline);
    const PixelRect rootArea{0, 0, x.screen()->width_in_pixels, x.screen()->height_in_pixels};

    if (const auto& single = filter.desktopIndependentWindow) {
        const PixelRect area = layout.fromGlobal(single->frame).intersection(rootArea);
        if (single->windowID == x.root())
            return compose(x, area, {}, true, width, height, deadline);
        std::vector<TopLevel> layers;
        for (const auto& top : mappedTopLevels(x, atoms, deadline))
            if (top.client == single->windowID || top.window == single->windowID)
                layers.push_back(top);
        if (layers.empty()) throw PlatformError("X11", "The window is no longer on screen.");
        return compose(x, area, layers, false, width, height, deadline);
    }

    if (!filter.display) throw PlatformError("X11", "Nothing to capture.");
    const Monitor* monitor = nullptr;
    for (const auto& m : layout.monitors)
        if (m.name == filter.display->displayID) monitor = &m;
    if (!monitor) throw PlatformError("X11", "The display is no longer available.");
    const PixelRect area = monitor->area.intersection(rootArea);

    std::set<std::int32_t> excluded;
    for (const auto& application : filter.excludingApplications)
        excluded.insert(application.processID);
    std::set<xcb_window_t> excepted;
    for (const auto& window : filter.exceptingWindows)
        excepted.insert(window.windowID);
    std::vector<TopLevel> layers;
    bool leftOut = false;
    if (!excluded.empty()) {
        for (const auto& top : mappedTopLevels(x, atoms, deadline)) {
            const bool excludedWindow = top.pid && excluded.contains(*top.pid) &&
                                        !(top.client && excepted.contains(*top.client));
            if (excludedWindow && top.outer.intersects(area))
                leftOut = true;
            else if (!excludedWindow)
                layers.push_back(top);
        }
    }
    if (!leftOut) return pixels_.read(x, x.root(), area, width, height, deadline);
    if (justKept) std::this_thread::sleep_for(redrawAllowance);
    return compose(x, area, layers, true, width, height, deadline);
}

bool Screenshots::keepWindowContents(Connection& x, Deadline deadline) {
    if (kept_) return false;
    const std::string name = "Composite";
    auto extension = await<xcb_query_extension_reply_t>(
        x.xcb(),
        xcb_query_extension(x.xcb(), static_cast<std::uint16_t>(name.size()), name.c_str()),
        deadline);
    if (!extension || !extension->present)
        throw PlatformError("X11", "The display lacks the Composite extension.");
    auto version = await<xcb_composite_query_version_reply_t>(
        x.xcb(), xcb_composite_query_version(x.xcb(), 0, 4), deadline);
    if (!version) throw PlatformError("X11", "The display lacks the Composite extension.");
    // Automatic redirection: the server still paints the screen itself, and keeps each
    // top-level window's pixels for as long as this connection lives.
    auto cookie = xcb_composite_redirect_subwindows_checked(x.xcb(), x.root(),
                                                            XCB_COMPOSITE_REDIRECT_AUTOMATIC);
    sync(x.xcb(), deadline);
    if (!succeeded(x.xcb(), cookie))
        throw PlatformError("X11", "The display cannot keep windows' contents.");
    learnPictureFormats(x, deadline);
    kept_ = true;
    return true;
}

void Screenshots::learnPictureFormats(Connection& x, Deadline deadline) {
    auto version = await<xcb_render_query_version_reply_t>(
        x.xcb(), xcb_render_query_version(x.xcb(), 0, 11), deadline);
    auto formats = await<xcb_render_query_pict_formats_reply_t>(
        x.xcb(), xcb_render_query_pict_formats(x.xcb()), deadline);
    if (!version || !formats) throw PlatformError("X11", "The display lacks the Render extension.");
    for (auto s = xcb_render_query_pict_formats_screens_iterator(formats.get()); s.rem;
         xcb_render_pictscreen_next(&s))
        for (auto d = xcb_render_pictscreen_depths_iterator(s.data); d.rem;
             xcb_render_pictdepth_next(&d))
            for (auto v = xcb_render_pictdepth_visuals_iterator(d.data); v.rem;
                 xcb_render_pictvisual_next(&v))
                visualFormats_[v.data->visual] = v.data->format;
    for (auto f = xcb_render_query_pict_formats_formats_iterator(formats.get()); f.rem;
         xcb_render_pictforminfo_next(&f)) {
        const auto& info = *f.data;
        if (info.type != XCB_RENDER_PICT_TYPE_DIRECT || info.direct.red_mask != 0xff) continue;
        const bool alpha = info.direct.alpha_mask != 0;
        if ((info.depth == 32 && alpha) || (info.depth == 24 && !alpha))
            depthFormats_.try_emplace(info.depth, info.id);
    }
}

Image Screenshots::compose(Connection& x, const PixelRect& area,
                           const std::vector<TopLevel>& layers, bool rootBackground, int width,
                           int height, Deadline deadline) {
    const std::uint8_t depth = x.screen()->root_depth;
    auto format = depthFormats_.find(depth);
    if (format == depthFormats_.end())
        throw PlatformError("X11", "The display's pixel format is not supported.");
    RenderScope scope(x);
    const xcb_pixmap_t canvas = scope.pixmap();
    xcb_create_pixmap(x.xcb(), depth, canvas, x.root(), static_cast<std::uint16_t>(area.width),
                      static_cast<std::uint16_t>(area.height));
    const xcb_render_picture_t target = scope.picture();
    xcb_render_create_picture(x.xcb(), target, canvas, format->second, 0, nullptr);

    const xcb_rectangle_t whole{0, 0, static_cast<std::uint16_t>(area.width),
                                static_cast<std::uint16_t>(area.height)};
    const xcb_render_color_t black{0, 0, 0, 0xffff};
    xcb_render_fill_rectangles(x.xcb(), XCB_RENDER_PICT_OP_SRC, target, black, 1, &whole);
    if (auto background =
            rootBackground ? rootPixmap(x, session_.atoms(), deadline) : std::nullopt) {
        auto geometry = await<xcb_get_geometry_reply_t>(
            x.xcb(), xcb_get_geometry(x.xcb(), *background), deadline);
        auto backgroundFormat =
            geometry ? depthFormats_.find(geometry->depth) : depthFormats_.end();
        if (backgroundFormat != depthFormats_.end()) {
            const xcb_render_picture_t picture = scope.picture();
            const std::uint32_t repeat = XCB_RENDER_REPEAT_NORMAL;
            xcb_render_create_picture(x.xcb(), picture, *background, backgroundFormat->second,
                                      XCB_RENDER_CP_REPEAT, &repeat);
            xcb_render_composite(x.xcb(), XCB_RENDER_PICT_OP_SRC, picture, XCB_NONE, target,
                                 static_cast<std::int16_t>(area.x),
                                 static_cast<std::int16_t>(area.y), 0, 0, 0, 0, whole.width,
                                 whole.height);
        }
    }
    for (const auto& layer : layers) {
        if (!layer.outer.intersects(area)) continue;
        auto layerFormat = visualFormats_.find(layer.visual);
        if (layerFormat == visualFormats_.end()) continue;
        const xcb_pixmap_t contents = scope.pixmap();
        xcb_composite_name_window_pixmap(x.xcb(), layer.window, contents);
        const xcb_render_picture_t picture = scope.picture();
        xcb_render_create_picture(x.xcb(), picture, contents, layerFormat->second, 0, nullptr);
        // Windows with an alpha channel blend with what lies beneath; others cover it.
        const std::uint8_t op =
            layer.depth == 32 ? XCB_RENDER_PICT_OP_OVER : XCB_RENDER_PICT_OP_SRC;
        xcb_render_composite(x.xcb(), op, picture, XCB_NONE, target, 0, 0, 0, 0,
                             static_cast<std::int16_t>(layer.outer.x - area.x),
                             static_cast<std::int16_t>(layer.outer.y - area.y),
                             static_cast<std::uint16_t>(layer.outer.width),
                             static_cast<std::uint16_t>(layer.outer.height));
    }
    Image image = pixels_.read(x, canvas, {0, 0, area.width, area.height}, width, height, deadline);
    // A window that vanished meanwhile leaves an error behind; it concerns nobody now.
    while (Reply<xcb_generic_event_t> stray{xcb_poll_for_event(x.xcb())}) {
    }
    return image;
}

} // namespace tarvine::adapters::x11
