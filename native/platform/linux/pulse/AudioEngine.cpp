#include "AudioEngine.h"

#include "Connection.h"
#include "base/HelperError.h"
#include "base/MainLoop.h"

#include <atomic>
#include <cstring>
#include <mutex>

namespace tarvine::adapters::pulse {

namespace {

constexpr const char* domain = "PulseAudio";
constexpr std::uint32_t defaultBlock = 2048;
// The events of one change (the stream dies, the source goes, the default moves) come a few
// milliseconds apart but not in one batch; they are gathered for this long into one change.
constexpr auto settleTime = std::chrono::milliseconds(150);

// The capture of the default source. Blocks are cut and delivered on PulseAudio's own
// event thread, with the loop lock held: everything the stream touches is guarded by it.
class PulseAudioEngine final : public platform::AudioEngine {
public:
    PulseAudioEngine() = default;
    ~PulseAudioEngine() override;

    AudioFormat inputFormat() override;
    void installTap(std::uint32_t bufferSize, const AudioFormat& format, AudioSink tap) override;
    void removeTap() override;
    void prepare() override {}
    void start() override;
    void stop() override;
    void observeConfigurationChanges(std::function<void()> handler) override;

private:
    // Shared with jobs posted to the main loop, which may run after the engine is gone.
    struct Observer {
        std::mutex lock;
        std::function<void()> handler;
        // Several events about one change make one restart, not three: one chain of retries.
        std::atomic<bool> pending{false};
    };

    Connection& connect();
    void closeStream();
    void seedDefault(Connection& connection);
    void notify();
    void take(const std::uint8_t* bytes, std::size_t frames);

    static void streamRead(pa_stream* stream, std::size_t, void* self);
    static void streamState(pa_stream* stream, void* self);
    static void subscription(pa_context* context, pa_subscription_event_type_t event,
                             std::uint32_t index, void* self);
    static void serverChanged(pa_context*, const pa_server_info* info, void* self);

    std::unique_ptr<Connection> connection_;
    std::shared_ptr<Observer> observer_ = std::make_shared<Observer>();

    // Held while the tap runs, so that removeTap() can promise no call is under way.
    std::mutex tapLock_;
    AudioSink tap_;
    // Main thread only.
    std::uint32_t tapBufferSize_ = defaultBlock;
    AudioFormat tapFormat_;

    // Guarded by the loop lock.
    pa_stream* stream_ = nullptr;
    bool streamReady_ = false;
    std::uint32_t sourceIndex_ = PA_INVALID_INDEX;
    AudioFormat streamFormat_;
    std::uint32_t blockFrames_ = defaultBlock;
    std::shared_ptr<PcmBuffer> block_;
    std::uint32_t filled_ = 0;
    std::string knownDefault_;
    bool defaultKnown_ = false;
};

PulseAudioEngine::~PulseAudioEngine() {
    {
        std::lock_guard guard(observer_->lock);
        observer_->handler = nullptr;
    }
    if (connection_) {
        Connection::Lock lock(*connection_);
        closeStream();
        pa_context_set_subscribe_callback(connection_->context(), nullptr, nullptr);
        connection_->onLost(nullptr);
    }
    connection_.reset();
}

// Reuses a live connection, or replaces a dead one (the server restarted or went away).
Connection& PulseAudioEngine::connect() {
    if (connection_) {
        Connection::Lock lock(*connection_);
        if (connection_->good()) return *connection_;
        closeStream();
        pa_context_set_subscribe_callback(connection_->context(), nullptr, nullptr);
        connection_->onLost(nullptr);
    }
    connection_.reset();
    auto fresh = std::make_unique<Connection>("tarvine microphone", deadlineFromNow());
    bool observing;
    {
        std::lock_guard guard(observer_->lock);
        observing = static_cast<bool>(observer_->handler);
    }
    {
        Connection::Lock lock(*fresh);
        fresh->onLost([this](const std::string&) { notify(); });
        pa_context_set_subscribe_callback(fresh->context(), subscription, this);
        defaultKnown_ = false;
        if (observing) seedDefault(*fresh);
    }
    connection_ = std::move(fresh);
    return *connection_;
}

// Subscribes and learns the current default source, so that later server changes can be
// told apart from changes of the default source.
void PulseAudioEngine::seedDefault(Connection& connection) {
    pa_operation* subscribing =
        pa_context_subscribe(connection.context(),
                             static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SERVER |
                                                                 PA_SUBSCRIPTION_MASK_SOURCE),
                             nullptr, nullptr);
    if (subscribing) pa_operation_unref(subscribing);
    if (defaultKnown_) return;
    if (auto defaults = connection.serverDefaults(deadlineFromNow())) {
        knownDefault_ = defaults->source;
        defaultKnown_ = true;
    }
}

AudioFormat PulseAudioEngine::inputFormat() {
    Connection* connection;
    try {
        connection = &connect();
    } catch (const PlatformError&) {
        return {};
    }
    Connection::Lock lock(*connection);
    const Deadline deadline = deadlineFromNow();
    auto defaults = connection->serverDefaults(deadline);
    if (!defaults || defaults->source.empty()) return {};
    auto source = connection->source(defaults->source, deadline);
    // The monitor of an output is what the computer plays, not a microphone.
    if (!source || source->monitor) return {};
    return AudioFormat{static_cast<double>(source->sampleSpec.rate), source->sampleSpec.channels,
                       CommonFormat::pcmFloat32, false};
}

void PulseAudioEngine::installTap(std::uint32_t bufferSize, const AudioFormat& format,
                                  AudioSink tap) {
    tapBufferSize_ = bufferSize > 0 ? bufferSize : defaultBlock;
    tapFormat_ = format;
    std::lock_guard guard(tapLock_);
    tap_ = std::move(tap);
}

void PulseAudioEngine::removeTap() {
    std::lock_guard guard(tapLock_);
    tap_ = nullptr;
}

void PulseAudioEngine::start() {
    Connection& connection = connect();
    Connection::Lock lock(connection);
    if (stream_) return;
    const Deadline deadline = deadlineFromNow();
    auto failure = [&] {
        return PlatformError(domain, connection.good() ? pa_strerror(PA_ERR_TIMEOUT)
                                                       : connection.errorText());
    };
    auto defaults = connection.serverDefaults(deadline);
    if (!defaults) throw failure();
    knownDefault_ = defaults->source;
    defaultKnown_ = true;
    auto source =
        defaults->source.empty() ? std::nullopt : connection.source(defaults->source, deadline);
    if (!source || source->monitor) throw PlatformError(domain, pa_strerror(PA_ERR_NOENTITY));

    AudioFormat format = tapFormat_;
    if (!(format.sampleRate > 0) || format.channelCount == 0)
        format =
            AudioFormat{static_cast<double>(source->sampleSpec.rate), source->sampleSpec.channels};
    format.commonFormat = CommonFormat::pcmFloat32;
    format.interleaved = false;
    const pa_sample_spec sampleSpec{PA_SAMPLE_FLOAT32NE,
                                    static_cast<std::uint32_t>(format.sampleRate),
                                    static_cast<std::uint8_t>(format.channelCount)};
    if (format.channelCount > PA_CHANNELS_MAX || !pa_sample_spec_valid(&sampleSpec))
        throw PlatformError(domain, pa_strerror(PA_ERR_INVALID));
    // The source's own channel map when the channel count is its own, so that nothing is
    // remixed on the way.
    pa_channel_map map = source->map;
    if (map.channels != sampleSpec.channels)
        pa_channel_map_init_extend(&map, sampleSpec.channels, PA_CHANNEL_MAP_DEFAULT);

    pa_stream* stream = pa_stream_new(connection.context(), "Microphone", &sampleSpec, &map);
    if (!stream) throw PlatformError(domain, connection.errorText());
    stream_ = stream;
    streamReady_ = false;
    sourceIndex_ = source->index;
    streamFormat_ = format;
    blockFrames_ = tapBufferSize_;
    block_.reset();
    filled_ = 0;
    pa_stream_set_state_callback(stream, streamState, this);
    pa_stream_set_read_callback(stream, streamRead, this);

    // Without a small fragment the server hands over seconds of audio at a time.
    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(-1);
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize = static_cast<std::uint32_t>(blockFrames_ * pa_frame_size(&sampleSpec));
    try {
        connection.connectRecord(stream, defaults->source, attributes, deadline);
    } catch (const PlatformError&) {
        closeStream();
        throw;
    }
    streamReady_ = true;
}

void PulseAudioEngine::stop() {
    if (!connection_) return;
    Connection::Lock lock(*connection_);
    closeStream();
}

void PulseAudioEngine::closeStream() {
    if (!stream_) return;
    Connection::releaseStream(stream_);
    streamReady_ = false;
    sourceIndex_ = PA_INVALID_INDEX;
    block_.reset();
    filled_ = 0;
}

void PulseAudioEngine::observeConfigurationChanges(std::function<void()> handler) {
    const bool observing = static_cast<bool>(handler);
    {
        std::lock_guard guard(observer_->lock);
        observer_->handler = std::move(handler);
    }
    if (!observing) return;
    try {
        Connection& connection = connect();
        Connection::Lock lock(connection);
        seedDefault(connection);
    } catch (const PlatformError&) {
        // No server: nothing to observe until a later start connects.
    }
}

void PulseAudioEngine::notify() {
    auto observer = observer_;
    {
        std::lock_guard guard(observer->lock);
        if (!observer->handler) return;
    }
    if (observer->pending.exchange(true)) return;
    MainLoop::post([observer] {
        auto settle = std::make_shared<MainLoop::Timer>(MainLoop::context(), settleTime);
        settle->async_wait([observer, settle](const std::error_code&) {
            observer->pending = false;
            std::function<void()> handler;
            {
                std::lock_guard guard(observer->lock);
                handler = observer->handler;
            }
            if (handler) handler();
        });
    });
}

void PulseAudioEngine::streamState(pa_stream* stream, void* data) {
    auto* self = static_cast<PulseAudioEngine*>(data);
    // A stream that dies under us (source removed, server gone) is a configuration change:
    // the restart finds out what is usable now.
    if (self->streamReady_ && !PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
        self->streamReady_ = false;
        self->notify();
    }
    self->connection_->signal();
}

void PulseAudioEngine::subscription(pa_context* context, pa_subscription_event_type_t event,
                                    std::uint32_t index, void* data) {
    auto* self = static_cast<PulseAudioEngine*>(data);
    const auto facility = event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const auto type = event & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    if (facility == PA_SUBSCRIPTION_EVENT_SOURCE && type == PA_SUBSCRIPTION_EVENT_REMOVE &&
        index != PA_INVALID_INDEX && index == self->sourceIndex_) {
        self->notify();
    } else if (facility == PA_SUBSCRIPTION_EVENT_SERVER && type == PA_SUBSCRIPTION_EVENT_CHANGE) {
        if (pa_operation* asking = pa_context_get_server_info(context, serverChanged, self))
            pa_operation_unref(asking);
    }
}

void PulseAudioEngine::serverChanged(pa_context*, const pa_server_info* info, void* data) {
    auto* self = static_cast<PulseAudioEngine*>(data);
    if (!info) return;
    std::string current = info->default_source_name ? info->default_source_name : "";
    if (self->defaultKnown_ && current == self->knownDefault_) return;
    const bool changed = self->defaultKnown_;
    self->knownDefault_ = std::move(current);
    self->defaultKnown_ = true;
    if (changed) self->notify();
}

void PulseAudioEngine::streamRead(pa_stream* stream, std::size_t, void* data) {
    auto* self = static_cast<PulseAudioEngine*>(data);
    const std::size_t frameBytes = pa_frame_size(pa_stream_get_sample_spec(stream));
    while (self->stream_ == stream && pa_stream_readable_size(stream) > 0) {
        const void* bytes = nullptr;
        std::size_t length = 0;
        if (pa_stream_peek(stream, &bytes, &length) < 0 || length == 0) return;
        // A hole (no data) is skipped; what arrives is whole frames.
        if (bytes) self->take(static_cast<const std::uint8_t*>(bytes), length / frameBytes);
        pa_stream_drop(stream);
    }
}

// Deinterleaves into fixed-size blocks and hands each full block to the tap.
void PulseAudioEngine::take(const std::uint8_t* bytes, std::size_t frames) {
    const std::uint32_t channels = streamFormat_.channelCount;
    for (std::size_t frame = 0; frame < frames; ++frame) {
        if (!block_) {
            block_ = std::make_shared<PcmBuffer>(streamFormat_, blockFrames_);
            filled_ = 0;
        }
        for (std::uint32_t channel = 0; channel < channels; ++channel) {
            // memcpy: the server's memory blocks promise no float alignment.
            std::memcpy(block_->floatChannelData(channel) + filled_,
                        bytes + (frame * channels + channel) * sizeof(float), sizeof(float));
        }
        if (++filled_ == blockFrames_) {
            block_->setFrameLength(blockFrames_);
            PcmBufferRef full = std::move(block_);
            block_.reset();
            std::lock_guard guard(tapLock_);
            if (tap_) tap_(full);
        }
    }
}

} // namespace

std::unique_ptr<platform::AudioEngine> makeAudioEngine() {
    return std::make_unique<PulseAudioEngine>();
}

} // namespace tarvine::adapters::pulse
