// The PulseAudio adapters against a real server: the virtual desktop's, whose default sink
// "speakers" and default source "mic" (remapped from the monitor of sink "mic_feed") let a
// test play what the microphone hears and what the computer plays.
#include "base/HelperError.h"
#include "base/MainLoop.h"
#include "platform/linux/pulse/AudioEngine.h"
#include "platform/linux/pulse/SystemAudio.h"

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <mutex>
#include <pthread.h>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace tarvine;
using namespace tarvine::adapters;
using namespace std::chrono_literals;

namespace {

std::string run(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r")) {
        char chunk[512];
        while (std::size_t n = std::fread(chunk, 1, sizeof chunk, pipe))
            out.append(chunk, n);
        ::pclose(pipe);
    }
    return out;
}

bool serverReachable() {
    return std::system("pactl info >/dev/null 2>&1") == 0;
}

// Plays a sine tone into `sink` through pacat, an independent client, with a short latency.
void playTone(const std::string& sink, std::chrono::milliseconds length, double frequency = 440) {
    FILE* pacat = ::popen(("pacat --playback -d " + sink +
                           " --format=float32le --rate=48000 --channels=1 --latency-msec=20")
                              .c_str(),
                          "w");
    ASSERT_TRUE(pacat);
    const auto frames = static_cast<std::size_t>(48 * length.count());
    std::vector<float> tone(frames);
    for (std::size_t i = 0; i < frames; ++i)
        tone[i] = static_cast<float>(
            0.5 * std::sin(2 * M_PI * frequency * static_cast<double>(i) / 48000));
    std::fwrite(tone.data(), sizeof(float), tone.size(), pacat);
    ::pclose(pacat);
}

// parec, an independent client, recording a source: what the server really carried.
class Recorder {
public:
    explicit Recorder(const std::string& source) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        const std::string device = "--device=" + source;
        const char* argv[] = {"parec",        device.c_str(), "--format=float32le",
                              "--rate=48000", "--channels=1", "--latency-msec=20",
                              nullptr};
        if (posix_spawnp(&pid_, "parec", &actions, nullptr, const_cast<char**>(argv), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        reader_ = std::thread([this, fd = fds[0]] { read(fd); });
    }
    ~Recorder() {
        if (pid_ > 0) ::kill(pid_, SIGTERM);
        reader_.join();
        if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
    }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Recording has begun: audio played from now on is heard.
    bool waitUntilRecording(std::chrono::milliseconds limit) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, limit, [&] { return bytes_ > 0; });
    }
    bool waitUntilHeard(float level, std::chrono::milliseconds limit) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, limit, [&] { return peak_ > level; });
    }

private:
    void read(int fd) {
        float samples[1024];
        ssize_t n = 0;
        while ((n = ::read(fd, samples, sizeof samples)) > 0) {
            std::lock_guard guard(lock_);
            bytes_ += static_cast<std::size_t>(n);
            for (ssize_t i = 0; i < n / static_cast<ssize_t>(sizeof(float)); ++i)
                peak_ = std::max(peak_, std::fabs(samples[i]));
            changed_.notify_all();
        }
        ::close(fd);
    }

    pid_t pid_ = -1;
    std::mutex lock_;
    std::condition_variable changed_;
    std::size_t bytes_ = 0;
    float peak_ = 0;
    std::thread reader_;
};

// Plays a tone into `sink` and returns once a recorder of `source` has heard it: a barrier
// after which any capture of that audio has had its chance to deliver it.
bool playUntilHeard(const std::string& sink, const std::string& source, double frequency) {
    Recorder recorder(source);
    if (!recorder.waitUntilRecording(5s)) return false;
    playTone(sink, 500ms, frequency);
    return recorder.waitUntilHeard(0.2f, 5s);
}

// "s16le 2ch 44100Hz" of a source, as pactl reports it.
AudioFormat pactlSourceFormat(const std::string& name) {
    std::istringstream lines(run("pactl list sources short"));
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string index, source, driver, sample, channels, rate;
        fields >> index >> source >> driver >> sample >> channels >> rate;
        if (source == name)
            return AudioFormat{std::stod(rate), static_cast<std::uint32_t>(std::stoul(channels))};
    }
    return {};
}

template <class Pred> bool runMainLoopUntil(Pred done, std::chrono::milliseconds limit) {
    auto& loop = MainLoop::context();
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        loop.restart();
        loop.run_for(10ms);
    }
    return done();
}

class PulseAudioTest : public ::testing::Test {
protected:
    void SetUp() override {
        MainLoop::context(); // this thread is the main thread
        if (serverReachable()) return;
        if (std::getenv("TARVINE_DESKTOP_SESSION"))
            FAIL() << "no PulseAudio server inside the desktop session";
        GTEST_SKIP() << "no PulseAudio server (run inside scripts/desktop-session)";
    }
};

// Counts and measures what reaches a tap, from the capture thread.
struct Received {
    std::mutex lock;
    int buffers = 0;
    float peak = 0;
    std::vector<AudioFormat> formats;
    std::vector<std::uint32_t> frames;
    std::string threadName;

    AudioSink sink() {
        return [this](const PcmBufferRef& buffer) {
            std::lock_guard guard(lock);
            ++buffers;
            formats.push_back(buffer->format());
            frames.push_back(buffer->frameLength());
            if (const float* samples = buffer->floatChannelData(0))
                for (std::uint32_t i = 0; i < buffer->frameLength(); ++i)
                    peak = std::max(peak, std::fabs(samples[i]));
            char name[32] = "";
            pthread_getname_np(pthread_self(), name, sizeof name);
            threadName = name;
        };
    }
    int count() {
        std::lock_guard guard(lock);
        return buffers;
    }
    float loudest() {
        std::lock_guard guard(lock);
        return peak;
    }
};

} // namespace

TEST_F(PulseAudioTest, MicrophoneDeliversToneInTheSourceFormatInFullBlocks) {
    auto engine = pulse::makeAudioEngine();
    const AudioFormat format = engine->inputFormat();
    const AudioFormat expected = pactlSourceFormat("mic");
    EXPECT_EQ(format.sampleRate, expected.sampleRate);
    EXPECT_EQ(format.channelCount, expected.channelCount);
    ASSERT_GT(format.sampleRate, 0);

    Received received;
    engine->installTap(2048, format, received.sink());
    engine->prepare();
    engine->start();
    std::thread player([] { playTone("mic_feed", 1500ms); });
    const bool heard = runMainLoopUntil([&] { return received.loudest() > 0.2f; }, 5s);
    player.join();
    EXPECT_TRUE(heard) << "peak " << received.loudest() << " in " << received.count() << " buffers";

    engine->removeTap();
    const int atRemoval = received.count();
    // The engine still runs: more audio reaches the microphone, but not the removed tap.
    ASSERT_TRUE(playUntilHeard("mic_feed", "mic", 440)) << "parec did not hear the tone";
    EXPECT_EQ(received.count(), atRemoval) << "tap called after removeTap()";
    engine->stop();

    std::lock_guard guard(received.lock);
    for (std::size_t i = 0; i < received.frames.size(); ++i) {
        EXPECT_EQ(received.frames[i], 2048u);
        EXPECT_EQ(received.formats[i], format);
    }
}

TEST_F(PulseAudioTest, SystemAudioDeliversWhatIsPlayedAsMono48kOnItsOwnThread) {
    auto stream = pulse::makeSystemAudioStream();
    Received received;
    std::atomic<int> failures{0};
    stream->start(received.sink(), [&](const std::string&) { ++failures; });
    std::thread player([] { playTone("speakers", 1500ms, 300); });
    const bool heard = runMainLoopUntil([&] { return received.loudest() > 0.2f; }, 5s);
    player.join();
    EXPECT_TRUE(heard) << "peak " << received.loudest() << " in " << received.count() << " buffers";

    stream->stop();
    const int atStop = received.count();
    ASSERT_TRUE(playUntilHeard("speakers", "speakers.monitor", 300))
        << "parec did not hear the tone";
    EXPECT_EQ(received.count(), atStop) << "delivered after stop()";
    EXPECT_EQ(failures, 0) << "our own stop was reported as a failure";

    std::lock_guard guard(received.lock);
    EXPECT_EQ(received.threadName, "tarvine.system-");
    for (std::size_t i = 0; i < received.frames.size(); ++i) {
        EXPECT_EQ(received.formats[i], (AudioFormat{48000, 1}));
        EXPECT_EQ(received.frames[i], 2048u) << "the server's crumbs are gathered into blocks";
    }
}

TEST_F(PulseAudioTest, DefaultSourceSwitchAndRemovalAreConfigurationChanges) {
    auto engine = pulse::makeAudioEngine();
    std::atomic<int> changes{0};
    engine->observeConfigurationChanges([&] {
        EXPECT_TRUE(MainLoop::onMainThread());
        ++changes;
    });
    const AudioFormat format = engine->inputFormat();
    Received received;
    engine->installTap(2048, format, received.sink());
    engine->start();

    // Switching to a monitor: a change, after which there is no microphone.
    run("pactl set-default-source speakers.monitor");
    EXPECT_TRUE(runMainLoopUntil([&] { return changes > 0; }, 5s)) << "no change after switching";
    EXPECT_EQ(engine->inputFormat(), AudioFormat{});
    run("pactl set-default-source mic");
    EXPECT_TRUE(runMainLoopUntil([&] { return changes > 1; }, 5s))
        << "no change after switching back";
    EXPECT_EQ(engine->inputFormat().sampleRate, format.sampleRate);

    // Rebuild as the capture does, then take the source away.
    engine->removeTap();
    engine->stop();
    engine->installTap(2048, format, received.sink());
    engine->start();
    const int before = changes;
    std::string module;
    std::istringstream modules(run("pactl list modules short"));
    for (std::string line; std::getline(modules, line);)
        if (line.find("module-remap-source") != std::string::npos &&
            line.find("source_name=mic ") != std::string::npos)
            module = line.substr(0, line.find('\t'));
    ASSERT_FALSE(module.empty());
    run("pactl unload-module " + module);
    const bool noticed = runMainLoopUntil([&] { return changes > before; }, 5s);
    run("pactl load-module module-remap-source source_name=mic master=mic_feed.monitor "
        "source_properties=device.description=Microphone");
    run("pactl set-default-source mic");
    EXPECT_TRUE(noticed) << "no change after the source in use went away";

    engine->observeConfigurationChanges({});
    engine->removeTap();
    engine->stop();
}

TEST_F(PulseAudioTest, SystemAudioReportsAnOutputThatGoesAwayOnce) {
    const std::string module = run("pactl load-module module-null-sink sink_name=probe");
    ASSERT_FALSE(module.empty());
    run("pactl set-default-sink probe");
    auto stream = pulse::makeSystemAudioStream();
    std::mutex lock;
    std::vector<std::string> failures;
    stream->start([](const PcmBufferRef&) {},
                  [&](const std::string& why) {
                      std::lock_guard guard(lock);
                      failures.push_back(why);
                  });
    run("pactl unload-module " + module);
    run("pactl set-default-sink speakers");
    runMainLoopUntil(
        [&] {
            std::lock_guard guard(lock);
            return !failures.empty();
        },
        5s);
    std::this_thread::sleep_for(200ms);
    stream->stop();
    std::lock_guard guard(lock);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].rfind("PulseAudio: ", 0), 0u) << failures[0];
}

TEST_F(PulseAudioTest, UnreachableOrSilentServerFailsQuickly) {
    const char* previous = std::getenv("PULSE_SERVER");
    const std::string saved = previous ? previous : "";
    auto restore = [&] {
        if (previous)
            ::setenv("PULSE_SERVER", saved.c_str(), 1);
        else
            ::unsetenv("PULSE_SERVER");
    };

    ::setenv("PULSE_SERVER", "unix:/nonexistent/tarvine/pulse", 1);
    auto began = std::chrono::steady_clock::now();
    auto engine = pulse::makeAudioEngine();
    EXPECT_EQ(engine->inputFormat(), AudioFormat{});
    EXPECT_THROW(engine->start(), PlatformError);
    EXPECT_THROW(pulse::makeSystemAudioStream()->start([](const PcmBufferRef&) {},
                                                       [](const std::string&) {}),
                 PlatformError);
    EXPECT_LT(std::chrono::steady_clock::now() - began, 2s);

    // A server that takes the connection and never answers.
    char path[] = "/tmp/tarvine-silent-XXXXXX";
    ASSERT_TRUE(::mkdtemp(path));
    const std::string socketPath = std::string(path) + "/native";
    int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ::setenv("PULSE_SERVER", ("unix:" + socketPath).c_str(), 1);
    began = std::chrono::steady_clock::now();
    auto stuck = pulse::makeAudioEngine();
    EXPECT_EQ(stuck->inputFormat(), AudioFormat{});
    EXPECT_LT(std::chrono::steady_clock::now() - began, 5s);
    began = std::chrono::steady_clock::now();
    EXPECT_THROW(stuck->start(), PlatformError);
    EXPECT_LT(std::chrono::steady_clock::now() - began, 5s);
    ::close(listener);
    ::unlink(socketPath.c_str());
    ::rmdir(path);
    restore();
}
