#pragma once

#include <optional>
#include <string>

namespace tarvine::adapters::sphinx {

// An installed PocketSphinx model: one folder per locale under the models folder, named
// like "en-us", holding the acoustic model, a language model and a pronunciation dictionary.
struct Model {
    std::string locale; // "en-US"
    std::string acoustic;
    std::string languageModel;
    std::string dictionary;
};

// The models folder: $TARVINE_SPHINX_MODELS when set (tests point it elsewhere), else the
// folder the Debian packages install into.
std::string modelsFolder();

// The complete model for a locale identifier ("en-US", "en_US", "en-us", "en", "en_US.UTF-8"),
// matched case-insensitively; a language alone matches the first model of that language.
// None when no complete model is installed for it.
std::optional<Model> findModel(const std::string& identifier);

// True when at least one complete model is installed.
bool anyModelInstalled();

} // namespace tarvine::adapters::sphinx
