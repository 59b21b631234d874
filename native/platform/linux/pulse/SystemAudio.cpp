#include "SystemAudio.h"

#include "Connection.h"
#include "base/HelperError.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <utility>
#include <vector>

namespace tarvine::adapters::pulse {

namespace {

constexpr const char* domain = "PulseAudio";
constexpr std::uint32_t rate = 48000;
// Small pieces keep the live transcript close behind the audio.
constexpr std::uint32_t fragmentFrames = 1024;
// The server hands a monitor's audio over in crumbs of 15 to 1023 frames; they are gathered
// into blocks of this size (about 43 ms), so that the engine is not fed hundreds of buffers a
// second and its backlog of buffers holds minutes of audio.
constexpr std::uint32_t blockFrames = 2048;
// A sink that stops taking audio must not make the queue grow without end: past this much
// the oldest audio goes.
constexpr std::size_t maxQueuedFrames = rate * 30;

class PulseSystemAudioStream final : public platform::SystemAudioStream {
public:
    PulseSystemAudioStream() = default;
    ~PulseSystemAudioStream() override;

    void start(AudioSink output, std::function<void(const std::string&)> stoppedWithError) override;
    void stop() override;

private:
    void deliverLoop();
    void closeStream();
    void report(const std::string& why);

    static void streamRead(pa_stream* stream, std::size_t, void* self);
    static void streamState(pa_stream* stream, void* self);

    std::unique_ptr<Connection> connection_;
    AudioSink output_;
    std::function<void(const std::string&)> stoppedWithError_;
    std::atomic<bool> started_{false};
    std::atomic<bool> stopped_{false};
    std::atomic<bool> reported_{false};

    // Guarded by the loop lock.
    pa_stream* stream_ = nullptr;
    bool streamReady_ = false;

    // The hand-over from PulseAudio's thread to the delivery thread.
    std::mutex queueLock_;
    std::condition_variable queueReady_;
    std::deque<std::vector<float>> queue_;
    std::size_t queuedFrames_ = 0;
    std::vector<float> block_; // the block being gathered
    bool stopping_ = false;

    // Held while output_ runs, so that stop() can promise no call is under way.
    std::mutex deliveryLock_;
    std::thread thread_;
    std::atomic<std::thread::id> threadId_{};
};

PulseSystemAudioStream::~PulseSystemAudioStream() {
    stop();
    if (thread_.joinable()) {
        if (std::this_thread::get_id() == thread_.get_id())
            thread_.detach();
        else
            thread_.join();
    }
    if (connection_) {
        {
            Connection::Lock lock(*connection_);
            connection_->onLost(nullptr);
            closeStream();
        }
        connection_.reset();
    }
}

void PulseSystemAudioStream::start(AudioSink output,
                                   std::function<void(const std::string&)> stoppedWithError) {
    if (started_.exchange(true)) throw PlatformError(domain, pa_strerror(PA_ERR_BADSTATE));
    output_ = std::move(output);
    stoppedWithError_ = std::move(stoppedWithError);

    connection_ = std::make_unique<Connection>("tarvine system audio", deadlineFromNow());
    Connection& connection = *connection_;
    Connection::Lock lock(connection);
    const Deadline deadline = deadlineFromNow();
    auto failure = [&] {
        return PlatformError(domain, connection.good() ? pa_strerror(PA_ERR_TIMEOUT)
                                                       : connection.errorText());
    };
    auto defaults = connection.serverDefaults(deadline);
    if (!defaults) throw failure();
    if (defaults->sink.empty()) throw HelperError("No display");
    auto monitor = connection.sinkMonitor(defaults->sink, deadline);
    if (!monitor) {
        if (!connection.good()) throw failure();
        throw HelperError("No display"); // the default output went away meanwhile
    }

    const pa_sample_spec sampleSpec{PA_SAMPLE_FLOAT32NE, rate, 1};
    pa_channel_map map;
    pa_channel_map_init_mono(&map);
    stream_ = pa_stream_new(connection.context(), "System audio", &sampleSpec, &map);
    if (!stream_) throw PlatformError(domain, connection.errorText());
    pa_stream_set_state_callback(stream_, streamState, this);
    pa_stream_set_read_callback(stream_, streamRead, this);
    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(-1);
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize = fragmentFrames * static_cast<std::uint32_t>(sizeof(float));
    // The server converts to 48 kHz mono; a stream whose output goes away ends (and says so)
    // rather than moving to whatever else plays.
    try {
        connection.connectRecord(stream_, *monitor, attributes, deadline);
    } catch (const PlatformError&) {
        closeStream();
        throw;
    }
    streamReady_ = true;
    connection.onLost([this](const std::string& why) { report(why); });
    thread_ = std::thread([this] { deliverLoop(); });
}

void PulseSystemAudioStream::stop() {
    if (stopped_.exchange(true)) return;
    {
        std::lock_guard guard(queueLock_);
        stopping_ = true;
        queue_.clear();
        queuedFrames_ = 0;
    }
    queueReady_.notify_all();
    // Wait out a delivery under way -- unless the output itself is stopping us.
    if (std::this_thread::get_id() != threadId_.load()) std::lock_guard guard(deliveryLock_);
    if (connection_) {
        if (connection_->inLoopThread()) {
            closeStream();
        } else {
            Connection::Lock lock(*connection_);
            closeStream();
        }
    }
}

void PulseSystemAudioStream::closeStream() {
    if (!stream_) return;
    Connection::releaseStream(stream_);
    streamReady_ = false;
}

void PulseSystemAudioStream::report(const std::string& why) {
    if (stopped_ || reported_.exchange(true)) return;
    if (stoppedWithError_) stoppedWithError_(PlatformError(domain, why).description());
}

void PulseSystemAudioStream::deliverLoop() {
    threadId_ = std::this_thread::get_id();
    // Thread names are limited to 15 characters.
    char name[16];
    std::strncpy(name, "tarvine.system-audio", sizeof name - 1);
    name[sizeof name - 1] = '\0';
    pthread_setname_np(pthread_self(), name);

    for (;;) {
        std::vector<float> samples;
        {
            std::unique_lock guard(queueLock_);
            queueReady_.wait(guard, [&] { return stopping_ || !queue_.empty(); });
            if (stopping_) return;
            samples = std::move(queue_.front());
            queue_.pop_front();
            queuedFrames_ -= samples.size();
        }
        const auto frames = static_cast<std::uint32_t>(samples.size());
        auto buffer = std::make_shared<PcmBuffer>(AudioFormat{rate, 1}, frames);
        std::memcpy(buffer->floatChannelData(0), samples.data(), frames * sizeof(float));
        buffer->setFrameLength(frames);
        std::lock_guard guard(deliveryLock_);
        if (stopped_) return;
        output_(buffer);
    }
}

void PulseSystemAudioStream::streamState(pa_stream* stream, void* data) {
    auto* self = static_cast<PulseSystemAudioStream*>(data);
    if (self->streamReady_ && !PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
        self->streamReady_ = false;
        self->report(self->connection_->errorText());
    }
    self->connection_->signal();
}

void PulseSystemAudioStream::streamRead(pa_stream* stream, std::size_t, void* data) {
    auto* self = static_cast<PulseSystemAudioStream*>(data);
    while (pa_stream_readable_size(stream) > 0) {
        const void* bytes = nullptr;
        std::size_t length = 0;
        if (pa_stream_peek(stream, &bytes, &length) < 0 || length == 0) return;
        std::size_t frames = length / sizeof(float);
        const auto* cursor = static_cast<const std::uint8_t*>(bytes);
        std::lock_guard guard(self->queueLock_);
        // A hole (no data) is skipped; so is everything once stopping.
        while (cursor && frames > 0 && !self->stopping_) {
            std::vector<float>& block = self->block_;
            const std::size_t piece = std::min<std::size_t>(frames, blockFrames - block.size());
            const std::size_t filled = block.size();
            block.resize(filled + piece);
            std::memcpy(block.data() + filled, cursor, piece * sizeof(float));
            cursor += piece * sizeof(float);
            frames -= piece;
            if (block.size() < blockFrames) break;
            self->queuedFrames_ += block.size();
            self->queue_.push_back(std::exchange(block, {}));
            self->block_.reserve(blockFrames);
        }
        while (self->queuedFrames_ > maxQueuedFrames && !self->queue_.empty()) {
            self->queuedFrames_ -= self->queue_.front().size();
            self->queue_.pop_front();
        }
        pa_stream_drop(stream);
        self->queueReady_.notify_one();
    }
}

} // namespace

std::unique_ptr<platform::SystemAudioStream> makeSystemAudioStream() {
    return std::make_unique<PulseSystemAudioStream>();
}

} // namespace tarvine::adapters::pulse
