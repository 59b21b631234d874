#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <pulse/pulseaudio.h>
#include <string>

namespace tarvine::adapters::pulse {

using Deadline = std::chrono::steady_clock::time_point;

// How long any one conversation with the sound server may take before it counts as failed:
// a server that accepts a connection and then says nothing must not hang the caller.
constexpr std::chrono::milliseconds answerLimit{3000};

inline Deadline deadlineFromNow(std::chrono::milliseconds limit = answerLimit) {
    return std::chrono::steady_clock::now() + limit;
}

struct ServerDefaults {
    std::string sink;
    std::string source;
};

struct SourceDetails {
    std::uint32_t index = PA_INVALID_INDEX;
    pa_sample_spec sampleSpec{};
    pa_channel_map map{};
    bool monitor = false;
};

// A client connection with its own event thread (pa_threaded_mainloop). Every call below
// except the constructor and destructor expects the loop lock to be held (Lock), which is
// also held whenever a PulseAudio callback runs.
class Connection {
public:
    // Connects to the configured server, never starting one, waiting until `deadline`.
    // Throws PlatformError with PulseAudio's own description when that fails.
    Connection(const char* clientName, Deadline deadline);
    // Not to be called on the loop's own thread.
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    class Lock {
    public:
        explicit Lock(Connection& connection) : loop_(connection.loop_) {
            pa_threaded_mainloop_lock(loop_);
        }
        ~Lock() { pa_threaded_mainloop_unlock(loop_); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* loop_;
    };

    pa_context* context() const { return context_; }
    // True on the loop's own thread, where the lock is already held by the caller's caller.
    bool inLoopThread() const { return pa_threaded_mainloop_in_thread(loop_) != 0; }
    bool good() const;
    // The description of the connection's last error, e.g. "Connection refused".
    std::string errorText() const;

    // Called on the loop thread when the connection fails or ends (not for a disconnect of
    // our own). Set it before anything can fail, or under the lock.
    void onLost(std::function<void(const std::string& why)> handler) { lost_ = std::move(handler); }

    // Wakes whoever waits in waitFor(); callbacks that change a waited-for condition call it.
    void signal();
    // Waits, releasing the lock meanwhile, until `done()` holds, the connection fails or the
    // deadline passes; returns done().
    bool waitFor(const std::function<bool()>& done, Deadline deadline);
    // Waits for an operation; an unfinished one is cancelled so that its callback, which
    // may point into the caller's stack, can no longer run. False when it did not finish.
    bool complete(pa_operation* operation, Deadline deadline);

    std::optional<ServerDefaults> serverDefaults(Deadline deadline);

    // Connects `stream` for recording from `device` with small fragments, in low-latency
    // mode and never moved to another device, and waits until it is ready. Throws
    // PlatformError (PulseAudio's description, or a time-out) when it is not.
    // Silences `stream`'s callbacks, disconnects it and lets it go; `stream` becomes null.
    static void releaseStream(pa_stream*& stream);

    void connectRecord(pa_stream* stream, const std::string& device,
                       const pa_buffer_attr& attributes, Deadline deadline);
    std::optional<SourceDetails> source(const std::string& name, Deadline deadline);
    // The name of the monitor source of the named sink.
    std::optional<std::string> sinkMonitor(const std::string& name, Deadline deadline);

private:
    static void stateChanged(pa_context* context, void* self);
    void close();

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    bool disconnecting_ = false;
    std::function<void(const std::string&)> lost_;
};

} // namespace tarvine::adapters::pulse
