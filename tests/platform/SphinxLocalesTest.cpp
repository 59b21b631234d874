#include "SpokenAudio.h"
#include "base/HelperError.h"
#include "platform/linux/sphinx/Analysis.h"
#include "platform/linux/sphinx/Recognition.h"

#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>

using namespace tarvine;
using namespace tarvine::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

const fs::path installed = "/usr/share/pocketsphinx/model/en-us";

// Points the adapters at another models folder for the life of the object.
class ModelsFolder {
public:
    ModelsFolder() { setenv("TARVINE_SPHINX_MODELS", folder_.path().c_str(), 1); }
    ~ModelsFolder() { unsetenv("TARVINE_SPHINX_MODELS"); }
    fs::path path() const { return folder_.path(); }

    // A model folder whose parts are the installed English model's, under other names.
    void addModel(const std::string& name) {
        fs::create_directories(path() / name / name);
        for (const auto& part : fs::directory_iterator(installed / "en-us"))
            fs::create_symlink(part.path(), path() / name / name / part.path().filename());
        fs::create_symlink(installed / "en-us.lm.bin", path() / name / (name + ".lm.bin"));
        fs::create_symlink(installed / "cmudict-en-us.dict",
                           path() / name / ("cmudict-" + name + ".dict"));
    }

private:
    TemporaryFolder folder_;
};

} // namespace

TEST(SphinxLocales, TheInstalledEnglishModelAnswersToEveryWayOfNamingIt) {
    auto analysis = adapters::sphinx::makeSpeechAnalysis();
    auto recognition = adapters::sphinx::makeSpeechRecognition();
    for (const char* name : {"en-US", "en_US", "en-us", "EN_us", "en", "EN", "en_US.UTF-8"}) {
        EXPECT_EQ(analysis->supportedLocale(name), "en-US") << name;
        EXPECT_FALSE(analysis->needsAssetInstallation(name)) << name;
        auto recognizer = recognition->makeRecognizer(name);
        ASSERT_TRUE(recognizer) << name;
        EXPECT_TRUE(recognizer->isAvailable());
        EXPECT_TRUE(recognizer->supportsOnDeviceRecognition());
    }
    EXPECT_TRUE(recognition->requestAuthorization());
}

TEST(SphinxLocales, LocalesWithoutAModelAreUnsupportedAndNothingIsDownloaded) {
    auto analysis = adapters::sphinx::makeSpeechAnalysis();
    auto recognition = adapters::sphinx::makeSpeechRecognition();
    for (const char* name : {"de-DE", "en-GB", "fr", "e", "us", "", "en-US-x"}) {
        EXPECT_EQ(analysis->supportedLocale(name), std::nullopt) << name;
        EXPECT_FALSE(recognition->makeRecognizer(name)) << name;
        EXPECT_THROW(analysis->makeAnalyzer(name), PlatformError) << name;
    }
    EXPECT_THROW(analysis->downloadAndInstall("de-DE"), PlatformError);
}

TEST(SphinxLocales, OnlyCompleteModelFoldersAreOffered) {
    ModelsFolder models;
    auto analysis = adapters::sphinx::makeSpeechAnalysis();
    auto recognition = adapters::sphinx::makeSpeechRecognition();
    EXPECT_FALSE(recognition->requestAuthorization());
    EXPECT_EQ(analysis->supportedLocale("en-US"), std::nullopt);

    // A dictionary alone is not a model.
    fs::create_directories(models.path() / "de-de");
    std::ofstream(models.path() / "de-de" / "cmudict-de-de.dict") << "hallo h a l o\n";
    EXPECT_EQ(analysis->supportedLocale("de-DE"), std::nullopt);
    EXPECT_FALSE(recognition->requestAuthorization());

    models.addModel("en-gb");
    models.addModel("pt-br");
    EXPECT_EQ(analysis->supportedLocale("en_GB"), "en-GB");
    EXPECT_EQ(analysis->supportedLocale("en"), "en-GB");
    EXPECT_EQ(analysis->supportedLocale("pt"), "pt-BR");
    EXPECT_EQ(analysis->supportedLocale("en-US"), std::nullopt);
    EXPECT_TRUE(recognition->requestAuthorization());
}

// A damaged model is the installation's fault; the helper reports it and lives on (the library
// itself would end the process on some of these).
class SphinxDamagedModel : public ::testing::TestWithParam<std::string> {};

TEST_P(SphinxDamagedModel, FailsAsAnEngineErrorWithoutEndingTheProcess) {
    ModelsFolder models;
    models.addModel("en-us");
    const fs::path damaged = models.path() / "en-us" / GetParam();
    fs::remove(damaged);
    std::ofstream(damaged) << "not a model part\n";

    auto analysis = adapters::sphinx::makeSpeechAnalysis();
    auto analyzer = analysis->makeAnalyzer("en-US");
    auto input = std::make_shared<platform::AnalyzerInputSequence>();
    auto results = std::make_shared<platform::TranscriptionResults>();
    try {
        analyzer->start(input, results);
        ADD_FAILURE() << "the analyzer started";
    } catch (const PlatformError& error) {
        EXPECT_EQ(error.domain(), "PocketSphinx");
        EXPECT_NE(std::string(error.what()), "");
        std::printf("start failed: %s\n", error.what());
    }
    EXPECT_NO_THROW(analyzer->cancelAndFinishNow());
    EXPECT_TRUE(results->ended());

    // The recognizer loads its model with the first task, which then ends with the error.
    auto recognizer = adapters::sphinx::makeSpeechRecognition()->makeRecognizer("en-US");
    ASSERT_TRUE(recognizer);
    std::mutex lock;
    std::condition_variable called;
    std::vector<platform::RecognitionError> errors;
    auto request = recognizer->makeRequest({});
    auto task =
        recognizer->recognitionTask(request, [&](std::optional<platform::RecognitionResult> result,
                                                 std::optional<platform::RecognitionError> error) {
            EXPECT_FALSE(result);
            std::lock_guard guard(lock);
            if (error) errors.push_back(*error);
            called.notify_all();
        });
    std::unique_lock guard(lock);
    ASSERT_TRUE(called.wait_for(guard, 10s, [&] { return !errors.empty(); }));
    EXPECT_EQ(errors.front().domain, "PocketSphinx");
    EXPECT_NE(errors.front().localizedDescription, "");
}

INSTANTIATE_TEST_SUITE_P(Parts, SphinxDamagedModel,
                         ::testing::Values("en-us.lm.bin", "en-us/mdef", "en-us/means"));
