#include "MicrophoneAuthorization.h"

#include <memory>
#include <pulse/pulseaudio.h>

namespace tarvine::adapters::pulse {

namespace {

struct Probe {
    pa_context_state_t state = PA_CONTEXT_UNCONNECTED;
    bool listed = false;
    bool foundInput = false;
};

void onState(pa_context* context, void* data) {
    static_cast<Probe*>(data)->state = pa_context_get_state(context);
}

void onSource(pa_context*, const pa_source_info* info, int eol, void* data) {
    auto* probe = static_cast<Probe*>(data);
    if (eol != 0) {
        probe->listed = true;
        return;
    }
    if (info && info->monitor_of_sink == PA_INVALID_INDEX) probe->foundInput = true;
}

} // namespace

bool microphoneAvailable(std::chrono::milliseconds limit) {
    std::unique_ptr<pa_mainloop, decltype(&pa_mainloop_free)> loop(pa_mainloop_new(),
                                                                   pa_mainloop_free);
    if (!loop) return false;
    std::unique_ptr<pa_context, decltype(&pa_context_unref)> context(
        pa_context_new(pa_mainloop_get_api(loop.get()), "tarvine permissions"), pa_context_unref);
    if (!context) return false;
    Probe probe;
    pa_context_set_state_callback(context.get(), onState, &probe);
    // Asking must never start a sound server as a side effect.
    if (pa_context_connect(context.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return false;

    const auto deadline = std::chrono::steady_clock::now() + limit;
    pa_operation* listing = nullptr;
    bool answered = false;
    while (std::chrono::steady_clock::now() < deadline) {
        auto left = std::chrono::duration_cast<std::chrono::microseconds>(
            deadline - std::chrono::steady_clock::now());
        if (pa_mainloop_prepare(loop.get(), static_cast<int>(left.count())) < 0) break;
        if (pa_mainloop_poll(loop.get()) < 0 || pa_mainloop_dispatch(loop.get()) < 0) break;
        if (probe.state == PA_CONTEXT_FAILED || probe.state == PA_CONTEXT_TERMINATED) break;
        if (probe.state == PA_CONTEXT_READY && !listing)
            listing = pa_context_get_source_info_list(context.get(), onSource, &probe);
        if (probe.listed) {
            answered = true;
            break;
        }
    }
    if (listing) {
        pa_operation_cancel(listing);
        pa_operation_unref(listing);
    }
    pa_context_disconnect(context.get());
    return answered && probe.foundInput;
}

} // namespace tarvine::adapters::pulse
