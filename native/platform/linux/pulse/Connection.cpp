#include "Connection.h"

#include "base/HelperError.h"

#include <pulse/rtclock.h>

namespace tarvine::adapters::pulse {

namespace {

constexpr const char* domain = "PulseAudio";

struct Alarm {
    pa_threaded_mainloop* loop;
    bool rang = false;
};

void ring(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* data) {
    auto* alarm = static_cast<Alarm*>(data);
    alarm->rang = true;
    pa_threaded_mainloop_signal(alarm->loop, 0);
}

} // namespace

Connection::Connection(const char* clientName, Deadline deadline) {
    loop_ = pa_threaded_mainloop_new();
    if (!loop_) throw PlatformError(domain, pa_strerror(PA_ERR_INTERNAL));
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), clientName);
    if (!context_ || pa_threaded_mainloop_start(loop_) < 0) {
        if (context_) pa_context_unref(context_);
        pa_threaded_mainloop_free(loop_);
        throw PlatformError(domain, pa_strerror(PA_ERR_INTERNAL));
    }
    std::string failure;
    {
        Lock lock(*this);
        pa_context_set_state_callback(context_, stateChanged, this);
        // Recording must never start a sound server as a side effect.
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            failure = errorText();
        } else if (!waitFor([&] { return pa_context_get_state(context_) == PA_CONTEXT_READY; },
                            deadline)) {
            failure = good() ? pa_strerror(PA_ERR_TIMEOUT) : errorText();
        }
    }
    if (!failure.empty()) {
        close();
        throw PlatformError(domain, failure);
    }
}

Connection::~Connection() {
    close();
}

void Connection::close() {
    if (context_) {
        Lock lock(*this);
        disconnecting_ = true;
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
    if (loop_) {
        pa_threaded_mainloop_stop(loop_);
        pa_threaded_mainloop_free(loop_);
        loop_ = nullptr;
    }
}

bool Connection::good() const {
    return PA_CONTEXT_IS_GOOD(pa_context_get_state(context_));
}

std::string Connection::errorText() const {
    return pa_strerror(pa_context_errno(context_));
}

void Connection::stateChanged(pa_context* context, void* data) {
    auto* self = static_cast<Connection*>(data);
    const pa_context_state_t state = pa_context_get_state(context);
    if ((state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) && !self->disconnecting_ &&
        self->lost_)
        self->lost_(self->errorText());
    pa_threaded_mainloop_signal(self->loop_, 0);
}

void Connection::signal() {
    pa_threaded_mainloop_signal(loop_, 0);
}

bool Connection::waitFor(const std::function<bool()>& done, Deadline deadline) {
    if (done()) return true;
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    Alarm alarm{loop_};
    pa_time_event* timer = pa_context_rttime_new(
        context_, pa_rtclock_now() + static_cast<pa_usec_t>(left.count()), ring, &alarm);
    if (!timer) return done();
    while (!done() && !alarm.rang && good())
        pa_threaded_mainloop_wait(loop_);
    pa_threaded_mainloop_get_api(loop_)->time_free(timer);
    return done();
}

bool Connection::complete(pa_operation* operation, Deadline deadline) {
    if (!operation) return false;
    waitFor([&] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; }, deadline);
    const bool finished = pa_operation_get_state(operation) == PA_OPERATION_DONE;
    if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) pa_operation_cancel(operation);
    pa_operation_unref(operation);
    return finished;
}

std::optional<ServerDefaults> Connection::serverDefaults(Deadline deadline) {
    struct Answer {
        Connection* connection;
        std::optional<ServerDefaults> value;
    } answer{this, std::nullopt};
    auto* operation = pa_context_get_server_info(
        context_,
        [](pa_context*, const pa_server_info* info, void* data) {
            auto* reply = static_cast<Answer*>(data);
            if (info) {
                reply->value =
                    ServerDefaults{info->default_sink_name ? info->default_sink_name : "",
                                   info->default_source_name ? info->default_source_name : ""};
            }
            reply->connection->signal();
        },
        &answer);
    if (!complete(operation, deadline)) return std::nullopt;
    return answer.value;
}

std::optional<SourceDetails> Connection::source(const std::string& name, Deadline deadline) {
    struct Answer {
        Connection* connection;
        std::optional<SourceDetails> value;
    } answer{this, std::nullopt};
    auto* operation = pa_context_get_source_info_by_name(
        context_, name.c_str(),
        [](pa_context*, const pa_source_info* info, int, void* data) {
            auto* reply = static_cast<Answer*>(data);
            if (info) {
                reply->value = SourceDetails{info->index, info->sample_spec, info->channel_map,
                                             info->monitor_of_sink != PA_INVALID_INDEX};
            }
            reply->connection->signal();
        },
        &answer);
    if (!complete(operation, deadline)) return std::nullopt;
    return answer.value;
}

std::optional<std::string> Connection::sinkMonitor(const std::string& name, Deadline deadline) {
    struct Answer {
        Connection* connection;
        std::optional<std::string> value;
    } answer{this, std::nullopt};
    auto* operation = pa_context_get_sink_info_by_name(
        context_, name.c_str(),
        [](pa_context*, const pa_sink_info* info, int, void* data) {
            auto* reply = static_cast<Answer*>(data);
            if (info && info->monitor_source_name) reply->value = info->monitor_source_name;
            reply->connection->signal();
        },
        &answer);
    if (!complete(operation, deadline)) return std::nullopt;
    return answer.value;
}

void Connection::releaseStream(pa_stream*& stream) {
    if (!stream) return;
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    stream = nullptr;
}

void Connection::connectRecord(pa_stream* stream, const std::string& device,
                               const pa_buffer_attr& attributes, Deadline deadline) {
    // A stream that would be moved elsewhere when its device goes fails instead: the owner
    // then decides what to capture next.
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(stream, device.c_str(), &attributes, flags) < 0)
        throw PlatformError("PulseAudio", errorText());
    waitFor(
        [&] {
            const pa_stream_state_t state = pa_stream_get_state(stream);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        },
        deadline);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_CREATING) throw PlatformError("PulseAudio", pa_strerror(PA_ERR_TIMEOUT));
    if (state != PA_STREAM_READY) throw PlatformError("PulseAudio", errorText());
}

} // namespace tarvine::adapters::pulse
