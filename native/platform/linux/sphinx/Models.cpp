#include "Models.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#ifndef TARVINE_SPHINX_MODELS
#define TARVINE_SPHINX_MODELS "/usr/share/pocketsphinx/model"
#endif

namespace tarvine::adapters::sphinx {

namespace fs = std::filesystem;

namespace {

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// "en_US.UTF-8@euro" -> "en-us": POSIX locale names reach us as well as BCP 47 tags.
std::string normalized(const std::string& identifier) {
    std::string text = identifier.substr(0, identifier.find_first_of(".@"));
    std::replace(text.begin(), text.end(), '_', '-');
    return lower(text);
}

std::string languageOf(const std::string& name) {
    return name.substr(0, name.find('-'));
}

// "en-us" -> "en-US".
std::string identifierOf(const std::string& folderName) {
    std::string result = lower(folderName);
    auto dash = result.find('-');
    if (dash != std::string::npos)
        std::transform(result.begin() + static_cast<std::ptrdiff_t>(dash), result.end(),
                       result.begin() + static_cast<std::ptrdiff_t>(dash),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return result;
}

bool isFile(const fs::path& path) {
    std::error_code error;
    return fs::is_regular_file(path, error);
}

// The first entry of `folder` (in name order) that `accept` takes.
template <class Accept> std::optional<fs::path> firstEntry(const fs::path& folder, Accept accept) {
    std::error_code error;
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        entries.push_back(it->path());
    std::sort(entries.begin(), entries.end());
    for (const auto& entry : entries)
        if (accept(entry)) return entry;
    return std::nullopt;
}

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The model in one folder, when all three parts are there. The Debian layout is
// en-us/{en-us/, en-us.lm.bin, cmudict-en-us.dict}; other folders are searched by kind.
std::optional<Model> modelIn(const fs::path& folder) {
    const std::string name = folder.filename().string();
    std::error_code error;

    fs::path acoustic = folder / name;
    if (!isFile(acoustic / "mdef")) {
        auto found = firstEntry(folder, [](const fs::path& p) { return isFile(p / "mdef"); });
        if (!found) return std::nullopt;
        acoustic = *found;
    }

    fs::path languageModel = folder / (name + ".lm.bin");
    if (!isFile(languageModel)) {
        // A phonetic language model ("-phone") yields phones, not words.
        auto found = firstEntry(folder, [](const fs::path& p) {
            std::string file = p.filename().string();
            return isFile(p) && file.find("-phone") == std::string::npos &&
                   (endsWith(file, ".lm.bin") || endsWith(file, ".lm") || endsWith(file, ".DMP"));
        });
        if (!found) return std::nullopt;
        languageModel = *found;
    }

    fs::path dictionary = folder / ("cmudict-" + name + ".dict");
    if (!isFile(dictionary)) {
        auto found = firstEntry(folder, [](const fs::path& p) {
            return isFile(p) && endsWith(p.filename().string(), ".dict");
        });
        if (!found) return std::nullopt;
        dictionary = *found;
    }

    return Model{identifierOf(name), acoustic.string(), languageModel.string(),
                 dictionary.string()};
}

// Complete models, in folder-name order.
std::vector<Model> installedModels() {
    std::vector<Model> models;
    std::error_code error;
    std::vector<fs::path> folders;
    for (fs::directory_iterator it(modelsFolder(), error), end; !error && it != end;
         it.increment(error))
        if (it->is_directory(error)) folders.push_back(it->path());
    std::sort(folders.begin(), folders.end());
    for (const auto& folder : folders)
        if (auto model = modelIn(folder)) models.push_back(std::move(*model));
    return models;
}

} // namespace

std::string modelsFolder() {
    const char* override = std::getenv("TARVINE_SPHINX_MODELS");
    return override && *override ? override : TARVINE_SPHINX_MODELS;
}

std::optional<Model> findModel(const std::string& identifier) {
    const std::string wanted = normalized(identifier);
    if (wanted.empty()) return std::nullopt;
    const auto models = installedModels();
    for (const auto& model : models)
        if (lower(model.locale) == wanted) return model;
    if (wanted.find('-') == std::string::npos)
        for (const auto& model : models)
            if (languageOf(lower(model.locale)) == wanted) return model;
    return std::nullopt;
}

bool anyModelInstalled() {
    return !installedModels().empty();
}

} // namespace tarvine::adapters::sphinx
