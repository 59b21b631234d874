#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <uv.h>
#include <vector>
#include <xcb/xcb.h>

namespace tarvine::glass::x11 {

struct FreeDeleter {
    void operator()(void* p) const noexcept { std::free(p); }
};
// Replies and events from xcb are malloc'ed.
template <class T> using Reply = std::unique_ptr<T, FreeDeleter>;

// The atoms the addon uses, interned together when the connection opens.
enum class Atom {
    NetSupported,
    BlurBehindRegion,
    NetWmPid,
    WmClientMachine,
    NetWmName,
    NetWmWindowType,
    NetWmWindowTypeDnd,
    Utf8String,
    Targets,
    UriList,
    XdndAware,
    XdndSelection,
    XdndEnter,
    XdndPosition,
    XdndStatus,
    XdndLeave,
    XdndDrop,
    XdndFinished,
    XdndActionCopy,
    Count
};

// Receives the events of the addon's connection, on the host's main thread.
class EventSink {
public:
    virtual ~EventSink() = default;
    virtual void handle(const xcb_generic_event_t& event) = 0;
    // Every event that had arrived has been handled: work that only the latest of a burst
    // of events needs is done here.
    virtual void drained() {}
    // The server went away: nothing more will arrive.
    virtual void connectionLost() {}
};

// The addon's own connection to the X server. The host's libuv loop watches its socket, so
// its events are handled on the main thread between the host's own work.
class Display {
public:
    // The process's connection, opened on the first call; null when no display is reachable.
    static Display* shared(uv_loop_t* loop);
    // The connection if one is open.
    static Display* current();
    // Stops watching and disconnects, when the host's environment goes away.
    static void close();

    Display(const Display&) = delete;
    Display& operator=(const Display&) = delete;

    xcb_connection_t* xcb() const { return connection_; }
    xcb_screen_t* screen() const { return screen_; }
    xcb_window_t root() const { return screen_->root; }
    uv_loop_t* loop() const { return loop_; }
    xcb_atom_t atom(Atom name) const { return atoms_[static_cast<std::size_t>(name)]; }
    // Device pixels per point: Xft.dpi / 96, 1 without it.
    double scale() const { return scale_; }
    // The XInput extension's major opcode, 0 when the server lacks XInput 2.2.
    std::uint8_t xinputOpcode() const { return xinputOpcode_; }

    // The reply to a request, waited for at most a second; null on an error or a timeout.
    template <class R> Reply<R> reply(unsigned sequence) {
        return Reply<R>(static_cast<R*>(awaitReply(sequence)));
    }

    void addSink(EventSink* sink);
    void removeSink(EventSink* sink);
    // Hands every event that has arrived to the sinks.
    void pump();
    // A drag in progress keeps the host's loop running; otherwise the watch does not.
    void keepLoopAlive(bool alive);

private:
    Display(xcb_connection_t* connection, xcb_screen_t* screen, uv_loop_t* loop);
    ~Display();
    void internAtoms();
    void readScale();
    void queryXInput();
    void* awaitReply(unsigned sequence);
    template <class Call> void forEachSink(Call call);
    static void onReadable(uv_poll_t* poll, int status, int events);

    xcb_connection_t* connection_;
    xcb_screen_t* screen_;
    uv_loop_t* loop_;
    uv_poll_t* poll_;
    std::vector<xcb_atom_t> atoms_;
    std::vector<EventSink*> sinks_;
    double scale_ = 1.0;
    std::uint8_t xinputOpcode_ = 0;
};

} // namespace tarvine::glass::x11
