#include "Pasteboard.h"

#include "Connection.h"
#include "base/MainLoop.h"
#include "base/Signal.h"

#include <algorithm>
#include <cstring>
#include <list>
#include <map>
#include <set>
#include <unistd.h>
#include <xcb/xfixes.h>

namespace tarvine::adapters::x11 {

namespace {

using namespace std::chrono_literals;
using Clock = MainLoop::Clock;

// How long an owner may take to answer one conversion, and a requestor to take one chunk of
// an incremental transfer, before it counts as not answering.
constexpr auto answerLimit = 2000ms;
constexpr auto chunkLimit = 5000ms;
// Data above this size goes out incrementally (INCR), in chunks of this size.
constexpr std::size_t incrementalChunk = 256 * 1024;

// Targets that are part of the selection protocol, not data: reading DELETE or
// INSERT_SELECTION would act on the owner, MULTIPLE and SAVE_TARGETS need parameters.
const std::set<std::string>& protocolTargets() {
    static const std::set<std::string> names = {
        "TARGETS",          "TIMESTAMP",       "MULTIPLE",    "DELETE",
        "INSERT_SELECTION", "INSERT_PROPERTY", "SAVE_TARGETS"};
    return names;
}

// Where the plain string is found, best first.
const std::vector<std::string>& plainTextTargets() {
    static const std::vector<std::string> names = {"UTF8_STRING", "text/plain;charset=utf-8",
                                                   "STRING"};
    return names;
}

// Bytes as read from a property: the data, the type the owner labelled it with and its format.
struct Property {
    std::string bytes;
    xcb_atom_t type = XCB_ATOM_NONE;
    std::uint8_t format = 8;
};

// What we serve while we own the selection.
struct Contents {
    std::vector<platform::PasteboardData> data;
    xcb_timestamp_t since = XCB_CURRENT_TIME;
};

// One conversion we asked for, waiting on its own requestor window.
struct Conversion {
    bool answered = false;
    xcb_atom_t property = XCB_ATOM_NONE;
    int newValues = 0; // property-change notices for incremental chunks
    Signal changed;
};

// One incremental transfer we serve to a requestor.
struct Transfer {
    xcb_window_t requestor = XCB_WINDOW_NONE;
    xcb_atom_t property = XCB_ATOM_NONE;
    xcb_atom_t type = XCB_ATOM_NONE;
    std::uint8_t format = 8;
    std::shared_ptr<const Contents> contents;
    std::size_t index = 0;
    std::size_t offset = 0;
    int deletions = 0;
    Signal changed;
};

std::string latin1ToUtf8(const std::string& latin1) {
    std::string out;
    for (unsigned char c : latin1) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// The text as Latin-1, or none when it has characters beyond it.
std::optional<std::string> utf8ToLatin1(const std::string& utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size()) {
            out += static_cast<char>(((c & 0x03) << 6) | (utf8[++i] & 0x3F));
        } else {
            return std::nullopt;
        }
    }
    return out;
}

class X11Pasteboard final : public platform::Pasteboard {
public:
    ~X11Pasteboard() override {
        if (descriptor_) descriptor_->close();
    }

    std::int64_t changeCount() override {
        if (!ready()) return changes_;
        sync();
        return changes_;
    }

    asio::awaitable<std::vector<std::string>> types() override {
        std::vector<std::string> names;
        if (!ready()) co_return names;
        if (owned_) {
            for (const auto& d : owned_->data)
                names.push_back(d.type);
            co_return names;
        }
        co_return co_await foreignTypes();
    }

    asio::awaitable<std::optional<std::string>> string() override {
        if (!ready()) co_return std::nullopt;
        auto offered = co_await types();
        for (const auto& target : plainTextTargets()) {
            if (std::find(offered.begin(), offered.end(), target) == offered.end()) continue;
            auto text = co_await data(target);
            if (!text) continue;
            co_return target == "STRING" ? latin1ToUtf8(*text) : *text;
        }
        co_return std::nullopt;
    }

    asio::awaitable<std::optional<std::string>> data(std::string type) override {
        if (!ready()) co_return std::nullopt;
        if (owned_) {
            for (const auto& d : owned_->data)
                if (d.type == type) co_return d.bytes;
            co_return std::nullopt;
        }
        auto received = co_await convert(atom(type));
        if (!received) co_return std::nullopt;
        co_return std::move(received->bytes);
    }

    asio::awaitable<std::vector<platform::PasteboardItem>> items() override {
        std::vector<platform::PasteboardItem> saved;
        if (!ready()) co_return saved;
        if (owned_) {
            saved.push_back(owned_->data);
            co_return saved;
        }
        if (currentOwner() == XCB_WINDOW_NONE) co_return saved;
        platform::PasteboardItem item;
        for (const auto& type : co_await foreignTypes()) {
            if (protocolTargets().count(type)) continue;
            auto received = co_await convert(atom(type));
            if (timedOut_) break; // an owner that stopped answering gets no more waits
            if (!received) continue;
            // A repeated type keeps the last data read.
            std::erase_if(item, [&](const auto& d) { return d.type == type; });
            item.push_back({type, std::move(received->bytes), encoding(type, *received)});
        }
        saved.push_back(std::move(item));
        co_return saved;
    }

    asio::awaitable<bool> write(std::vector<platform::PasteboardItem> items) override {
        auto contents = std::make_shared<Contents>();
        // The selection holds one item; further items have nowhere to go.
        if (!items.empty()) contents->data = std::move(items.front());
        co_return co_await own(std::move(contents));
    }

    asio::awaitable<bool> writeString(std::string text,
                                      std::vector<platform::PasteboardData> extras) override {
        auto contents = std::make_shared<Contents>();
        contents->data.push_back({"UTF8_STRING", text, {}});
        contents->data.push_back({"text/plain;charset=utf-8", text, {}});
        contents->data.push_back({"TEXT", text, "UTF8_STRING/8"});
        if (auto latin1 = utf8ToLatin1(text)) contents->data.push_back({"STRING", *latin1, {}});
        for (auto& extra : extras)
            contents->data.push_back(std::move(extra));
        co_return co_await own(std::move(contents));
    }

private:
    // --- connection -------------------------------------------------------------------

    bool ready() {
        if (x_ && !xcb_connection_has_error(x_->xcb())) return true;
        if (tried_) return false;
        tried_ = true;
        x_ = Connection::open();
        if (!x_ || !x_->hasExtension("XFIXES")) {
            x_.reset();
            return false;
        }
        auto c = x_->xcb();
        Reply<xcb_xfixes_query_version_reply_t> version(
            xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 5, 0), nullptr));
        if (!version) {
            x_.reset();
            return false;
        }
        xfixesEvent_ = xcb_get_extension_data(c, &xcb_xfixes_id)->first_event;
        internAll();
        window_ = makeWindow();
        xcb_xfixes_select_selection_input(
            c, window_, clipboard_,
            XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
        xcb_flush(c);
        descriptor_.emplace(MainLoop::context(), ::dup(xcb_get_file_descriptor(c)));
        watch();
        return true;
    }

    // Atoms this adapter uses all the time, interned in one batch.
    void internAll() {
        const char* names[] = {"CLIPBOARD", "TARGETS", "TIMESTAMP",         "INCR",
                               "ATOM",      "INTEGER", "TARVINE_SELECTION", "TARVINE_TIME"};
        xcb_intern_atom_cookie_t cookies[std::size(names)];
        for (std::size_t i = 0; i < std::size(names); ++i)
            cookies[i] =
                xcb_intern_atom(x_->xcb(), 0, std::uint16_t(std::strlen(names[i])), names[i]);
        xcb_atom_t* slots[] = {&clipboard_, &targets_, &timestamp_,        &incr_,
                               &atom_,      &integer_, &transferProperty_, &timeProperty_};
        for (std::size_t i = 0; i < std::size(names); ++i) {
            Reply<xcb_intern_atom_reply_t> reply(
                xcb_intern_atom_reply(x_->xcb(), cookies[i], nullptr));
            *slots[i] = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        }
    }

    xcb_atom_t atom(const std::string& name) { return x_->atom(name); }

    std::string atomName(xcb_atom_t atom) {
        auto c = x_->xcb();
        Reply<xcb_get_atom_name_reply_t> reply(
            xcb_get_atom_name_reply(c, xcb_get_atom_name(c, atom), nullptr));
        if (!reply) return {};
        return std::string(xcb_get_atom_name_name(reply.get()),
                           std::size_t(xcb_get_atom_name_name_length(reply.get())));
    }

    // Names of many atoms: every request first, then every reply.
    std::vector<std::string> atomNames(const std::vector<xcb_atom_t>& atoms) {
        auto c = x_->xcb();
        std::vector<xcb_get_atom_name_cookie_t> cookies;
        for (auto a : atoms)
            cookies.push_back(xcb_get_atom_name(c, a));
        std::vector<std::string> names;
        for (auto cookie : cookies) {
            Reply<xcb_get_atom_name_reply_t> reply(xcb_get_atom_name_reply(c, cookie, nullptr));
            if (reply)
                names.emplace_back(xcb_get_atom_name_name(reply.get()),
                                   std::size_t(xcb_get_atom_name_name_length(reply.get())));
            else
                names.emplace_back();
        }
        return names;
    }

    // An unmapped window that hears about changes of its own properties.
    xcb_window_t makeWindow() {
        auto c = x_->xcb();
        xcb_window_t window = xcb_generate_id(c);
        const std::uint32_t values[] = {1, XCB_EVENT_MASK_PROPERTY_CHANGE};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window, x_->root(), -10, -10, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                          XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
        return window;
    }

    // Waits for the connection's socket on the main loop and handles what arrives.
    void watch() {
        descriptor_->async_wait(asio::posix::descriptor_base::wait_read,
                                [this](const asio::error_code& error) {
                                    if (error) return;
                                    pump();
                                    if (!xcb_connection_has_error(x_->xcb())) watch();
                                });
    }

    // Handles every event that has arrived, including those a reply wait queued.
    void pump() {
        auto c = x_->xcb();
        while (xcb_generic_event_t* raw = xcb_poll_for_event(c)) {
            Reply<xcb_generic_event_t> event(raw);
            dispatch(*event);
        }
        if (xcb_connection_has_error(c)) wakeEveryone();
    }

    // A reply wait may queue events without the socket looking readable again: handle them
    // on the next turn of the loop.
    void pumpSoon() {
        if (pumpQueued_) return;
        pumpQueued_ = true;
        MainLoop::post([this] {
            pumpQueued_ = false;
            if (x_) pump();
        });
    }

    // One round trip, so that every event the server sent before now has been handled.
    void sync() {
        auto c = x_->xcb();
        Reply<xcb_get_input_focus_reply_t> reply(
            xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        pump();
    }

    void wakeEveryone() {
        for (auto& [window, conversion] : conversions_)
            conversion->changed.notify();
        for (auto& transfer : transfers_)
            transfer->changed.notify();
        timeArrived_.notify();
    }

    bool broken() const { return !x_ || xcb_connection_has_error(x_->xcb()); }

    void dispatch(const xcb_generic_event_t& event) {
        const auto type = event.response_type & 0x7F;
        if (type == xfixesEvent_ + XCB_XFIXES_SELECTION_NOTIFY) {
            const auto& e = reinterpret_cast<const xcb_xfixes_selection_notify_event_t&>(event);
            if (e.selection == clipboard_) {
                ++changes_;
                typesCache_.reset();
            }
            return;
        }
        switch (type) {
        case XCB_SELECTION_NOTIFY:
            return answered(reinterpret_cast<const xcb_selection_notify_event_t&>(event));
        case XCB_PROPERTY_NOTIFY:
            return propertyChanged(reinterpret_cast<const xcb_property_notify_event_t&>(event));
        case XCB_SELECTION_REQUEST:
            return serve(reinterpret_cast<const xcb_selection_request_event_t&>(event));
        case XCB_SELECTION_CLEAR: {
            const auto& e = reinterpret_cast<const xcb_selection_clear_event_t&>(event);
            // A clear older than our ownership belongs to an earlier one.
            if (e.selection == clipboard_ && owned_ && e.time >= owned_->since) owned_.reset();
            return;
        }
        default:
            return;
        }
    }

    // --- reading another owner's data ---------------------------------------------------

    xcb_window_t currentOwner() {
        auto c = x_->xcb();
        Reply<xcb_get_selection_owner_reply_t> reply(
            xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, clipboard_), nullptr));
        pumpSoon();
        return reply ? reply->owner : xcb_window_t{XCB_WINDOW_NONE};
    }

    asio::awaitable<std::vector<std::string>> foreignTypes() {
        const auto count = changeCount();
        if (typesCache_ && typesCount_ == count) co_return *typesCache_;
        std::vector<std::string> names;
        if (currentOwner() != XCB_WINDOW_NONE) {
            timedOut_ = false;
            auto received = co_await convert(targets_);
            if (received && received->format == 32) {
                std::vector<xcb_atom_t> atoms(received->bytes.size() / 4);
                std::memcpy(atoms.data(), received->bytes.data(), atoms.size() * 4);
                std::erase(atoms, xcb_atom_t{XCB_ATOM_NONE});
                names = atomNames(atoms);
                std::erase(names, std::string());
            } else if (!timedOut_) {
                // An owner without TARGETS may still hand out text.
                names = {"UTF8_STRING", "STRING"};
            }
        }
        typesCache_ = names;
        typesCount_ = count;
        co_return names;
    }

    // Asks the owner for `target` on a requestor window of its own, so that a late answer to
    // an abandoned conversion can never be taken for the answer to a later one.
    asio::awaitable<std::optional<Property>> convert(xcb_atom_t target) {
        if (broken() || target == XCB_ATOM_NONE) co_return std::nullopt;
        auto c = x_->xcb();
        const xcb_window_t window = makeWindow();
        Conversion conversion;
        conversions_[window] = &conversion;
        struct Cleanup {
            X11Pasteboard* self;
            xcb_window_t window;
            ~Cleanup() {
                self->conversions_.erase(window);
                if (!self->broken()) {
                    xcb_destroy_window(self->x_->xcb(), window);
                    xcb_flush(self->x_->xcb());
                }
            }
        } cleanup{this, window};
        xcb_convert_selection(c, window, clipboard_, target, transferProperty_, XCB_CURRENT_TIME);
        xcb_flush(c);

        auto deadline = Clock::now() + answerLimit;
        while (!conversion.answered && !broken())
            if (!co_await conversion.changed.waitUntil(deadline)) break;
        if (!conversion.answered) {
            timedOut_ = !broken();
            co_return std::nullopt;
        }
        if (conversion.property == XCB_ATOM_NONE) co_return std::nullopt;
        auto first = readProperty(window, conversion.property);
        if (!first || first->type != incr_) co_return first;
        co_return co_await receiveIncrementally(window, conversion);
    }

    // The owner sends large data in chunks: each chunk is a new value of the property, read
    // and deleted by us; an empty chunk ends the transfer.
    asio::awaitable<std::optional<Property>> receiveIncrementally(xcb_window_t window,
                                                                  Conversion& conversion) {
        Property whole;
        bool first = true;
        for (;;) {
            auto deadline = Clock::now() + chunkLimit;
            while (conversion.newValues == 0 && !broken())
                if (!co_await conversion.changed.waitUntil(deadline)) break;
            if (conversion.newValues == 0) {
                timedOut_ = !broken();
                co_return std::nullopt;
            }
            --conversion.newValues;
            auto chunk = readProperty(window, conversion.property);
            if (!chunk) co_return std::nullopt;
            if (chunk->bytes.empty() && !first) break;
            if (first) {
                whole.type = chunk->type;
                whole.format = chunk->format;
                first = false;
            }
            whole.bytes += chunk->bytes;
            if (chunk->bytes.empty()) break;
        }
        co_return whole;
    }

    // The whole property (following bytes_after), then deleted.
    std::optional<Property> readProperty(xcb_window_t window, xcb_atom_t property) {
        auto c = x_->xcb();
        Property result;
        std::uint32_t offset = 0; // in 32-bit units
        for (;;) {
            auto cookie = xcb_get_property(c, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY,
                                           offset, std::uint32_t(incrementalChunk / 4) * 16);
            Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(c, cookie, nullptr));
            if (!reply) {
                pumpSoon();
                return std::nullopt;
            }
            // The value's length in bytes, whatever the format.
            const auto bytes = std::size_t(xcb_get_property_value_length(reply.get()));
            result.type = reply->type;
            result.format = reply->format == 0 ? 8 : reply->format;
            result.bytes.append(static_cast<const char*>(xcb_get_property_value(reply.get())),
                                bytes);
            offset += std::uint32_t(bytes / 4);
            if (reply->bytes_after == 0) break;
        }
        xcb_delete_property(c, window, property);
        xcb_flush(c);
        pumpSoon();
        return result;
    }

    void answered(const xcb_selection_notify_event_t& e) {
        auto found = conversions_.find(e.requestor);
        if (found == conversions_.end() || found->second->answered) return;
        found->second->answered = true;
        found->second->property = e.property;
        found->second->changed.notify();
    }

    void propertyChanged(const xcb_property_notify_event_t& e) {
        if (e.window == window_ && e.atom == timeProperty_) {
            lastTime_ = e.time;
            timeArrived_.notify();
            return;
        }
        if (auto found = conversions_.find(e.window); found != conversions_.end()) {
            if (e.state == XCB_PROPERTY_NEW_VALUE && found->second->answered) {
                ++found->second->newValues;
                found->second->changed.notify();
            }
            return;
        }
        if (e.state != XCB_PROPERTY_DELETE) return;
        for (auto& transfer : transfers_)
            if (transfer->requestor == e.window && transfer->property == e.atom) {
                ++transfer->deletions;
                transfer->changed.notify();
            }
    }

    // The label kept with data whose property type or format is not the default for it.
    std::string encoding(const std::string& type, const Property& property) {
        if (property.format == 8 && property.type == atom(type)) return {};
        return atomName(property.type) + "/" + std::to_string(property.format);
    }

    // --- owning the selection -----------------------------------------------------------

    // A real server time for taking ownership: a zero-length append to our own property
    // comes back as a property-change event that carries it.
    asio::awaitable<std::optional<xcb_timestamp_t>> serverTime() {
        auto c = x_->xcb();
        lastTime_.reset();
        xcb_change_property(c, XCB_PROP_MODE_APPEND, window_, timeProperty_, XCB_ATOM_STRING, 8, 0,
                            nullptr);
        xcb_flush(c);
        auto deadline = Clock::now() + answerLimit;
        while (!lastTime_ && !broken())
            if (!co_await timeArrived_.waitUntil(deadline)) break;
        co_return lastTime_;
    }

    asio::awaitable<bool> own(std::shared_ptr<Contents> contents) {
        if (!ready()) co_return false;
        auto time = co_await serverTime();
        if (!time) co_return false;
        auto c = x_->xcb();
        contents->since = *time;
        xcb_set_selection_owner(c, window_, clipboard_, *time);
        bool ours = currentOwner() == window_;
        if (ours) owned_ = std::move(contents);
        typesCache_.reset();
        pumpSoon();
        co_return ours;
    }

    const platform::PasteboardData* find(xcb_atom_t target) {
        for (const auto& d : owned_->data)
            if (atom(d.type) == target) return &d;
        return nullptr;
    }

    // The property type and format to hand data out with.
    std::pair<xcb_atom_t, std::uint8_t> labelOf(const platform::PasteboardData& d,
                                                xcb_atom_t target) {
        if (d.encoding.empty()) return {target, 8};
        auto slash = d.encoding.rfind('/');
        int format = slash == std::string::npos ? 8 : std::atoi(d.encoding.c_str() + slash + 1);
        if (format != 8 && format != 16 && format != 32) format = 8;
        return {atom(d.encoding.substr(0, slash)), std::uint8_t(format)};
    }

    // Every request gets a notification; a refusal names no property.
    void serve(const xcb_selection_request_event_t& request) {
        const xcb_atom_t property =
            request.property == XCB_ATOM_NONE ? request.target : request.property;
        const bool ours = owned_ && request.selection == clipboard_ && request.owner == window_ &&
                          (request.time == XCB_CURRENT_TIME || request.time >= owned_->since);
        const bool ok = ours && answer(request.requestor, property, request.target);
        xcb_selection_notify_event_t notify{};
        notify.response_type = XCB_SELECTION_NOTIFY;
        notify.time = request.time;
        notify.requestor = request.requestor;
        notify.selection = request.selection;
        notify.target = request.target;
        notify.property = ok ? property : xcb_atom_t{XCB_ATOM_NONE};
        xcb_send_event(x_->xcb(), 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&notify));
        xcb_flush(x_->xcb());
    }

    bool answer(xcb_window_t requestor, xcb_atom_t property, xcb_atom_t target) {
        auto c = x_->xcb();
        if (target == targets_) {
            std::vector<xcb_atom_t> list = {targets_, timestamp_};
            for (const auto& d : owned_->data)
                if (auto a = atom(d.type); a != XCB_ATOM_NONE) list.push_back(a);
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, requestor, property, atom_, 32,
                                std::uint32_t(list.size()), list.data());
            return true;
        }
        if (target == timestamp_) {
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, requestor, property, integer_, 32, 1,
                                &owned_->since);
            return true;
        }
        const auto* d = find(target);
        if (!d) return false;
        auto [type, format] = labelOf(*d, target);
        if (d->bytes.size() > incrementalChunk) return startIncremental(requestor, property, *d);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, requestor, property, type, format,
                            std::uint32_t(d->bytes.size() / (format / 8)), d->bytes.data());
        return true;
    }

    bool startIncremental(xcb_window_t requestor, xcb_atom_t property,
                          const platform::PasteboardData& d) {
        auto c = x_->xcb();
        auto transfer = std::make_shared<Transfer>();
        transfer->requestor = requestor;
        transfer->property = property;
        std::tie(transfer->type, transfer->format) = labelOf(d, atom(d.type));
        transfer->contents = owned_;
        transfer->index = std::size_t(&d - owned_->data.data());
        const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(c, requestor, XCB_CW_EVENT_MASK, &events);
        const auto size = std::uint32_t(d.bytes.size());
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, requestor, property, incr_, 32, 1, &size);
        transfers_.push_back(transfer);
        MainLoop::spawn(sendIncrementally(transfer));
        return true;
    }

    // One chunk per deletion of the property by the requestor; an empty chunk ends it. A
    // requestor that stops taking chunks is given up after a while.
    asio::awaitable<void> sendIncrementally(std::shared_ptr<Transfer> transfer) {
        const auto& bytes = transfer->contents->data[transfer->index].bytes;
        const std::size_t unit = transfer->format / 8;
        for (;;) {
            auto deadline = Clock::now() + chunkLimit;
            while (transfer->deletions == 0 && !broken())
                if (!co_await transfer->changed.waitUntil(deadline)) break;
            if (transfer->deletions == 0 || broken()) break;
            --transfer->deletions;
            const std::size_t size = std::min(incrementalChunk, bytes.size() - transfer->offset);
            xcb_change_property(x_->xcb(), XCB_PROP_MODE_REPLACE, transfer->requestor,
                                transfer->property, transfer->type, transfer->format,
                                std::uint32_t(size / unit), bytes.data() + transfer->offset);
            xcb_flush(x_->xcb());
            transfer->offset += size;
            if (size == 0) break;
        }
        transfers_.remove(transfer);
        if (!broken()) {
            const std::uint32_t none = XCB_EVENT_MASK_NO_EVENT;
            xcb_change_window_attributes(x_->xcb(), transfer->requestor, XCB_CW_EVENT_MASK, &none);
            xcb_flush(x_->xcb());
        }
    }

    std::unique_ptr<Connection> x_;
    bool tried_ = false;
    std::optional<asio::posix::stream_descriptor> descriptor_;
    bool pumpQueued_ = false;
    std::uint8_t xfixesEvent_ = 0;
    xcb_window_t window_ = XCB_WINDOW_NONE;
    xcb_atom_t clipboard_ = XCB_ATOM_NONE, targets_ = XCB_ATOM_NONE, timestamp_ = XCB_ATOM_NONE,
               incr_ = XCB_ATOM_NONE, atom_ = XCB_ATOM_NONE, integer_ = XCB_ATOM_NONE,
               transferProperty_ = XCB_ATOM_NONE, timeProperty_ = XCB_ATOM_NONE;

    std::int64_t changes_ = 0;
    std::optional<std::vector<std::string>> typesCache_;
    std::int64_t typesCount_ = -1;
    bool timedOut_ = false;

    std::map<xcb_window_t, Conversion*> conversions_;
    std::list<std::shared_ptr<Transfer>> transfers_;
    std::shared_ptr<Contents> owned_;
    std::optional<xcb_timestamp_t> lastTime_;
    Signal timeArrived_;
};

} // namespace

std::unique_ptr<platform::Pasteboard> makePasteboard() {
    return std::make_unique<X11Pasteboard>();
}

} // namespace tarvine::adapters::x11
