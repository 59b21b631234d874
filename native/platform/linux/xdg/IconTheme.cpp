#include "IconTheme.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

namespace tarvine::adapters::xdg {

namespace {

namespace fs = std::filesystem;

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Where themes live, in the order freedesktop icon lookup searches them.
std::vector<fs::path> iconBases() {
    std::vector<fs::path> bases;
    std::string home = environment("HOME");
    if (!home.empty()) bases.emplace_back(fs::path(home) / ".icons");
    std::string dataHome = environment("XDG_DATA_HOME");
    if (!dataHome.empty())
        bases.emplace_back(fs::path(dataHome) / "icons");
    else if (!home.empty())
        bases.emplace_back(fs::path(home) / ".local/share/icons");
    std::string dataDirs = environment("XDG_DATA_DIRS");
    std::istringstream parts(dataDirs.empty() ? "/usr/local/share:/usr/share" : dataDirs);
    std::string part;
    while (std::getline(parts, part, ':'))
        if (!part.empty()) bases.emplace_back(fs::path(part) / "icons");
    return bases;
}

std::string trimmed(std::string text) {
    auto start = text.find_first_not_of(" \t\r");
    auto end = text.find_last_not_of(" \t\r");
    return start == std::string::npos ? "" : text.substr(start, end - start + 1);
}

std::vector<std::string> commaList(const std::string& value) {
    std::vector<std::string> items;
    std::istringstream parts(value);
    std::string item;
    while (std::getline(parts, item, ','))
        if (!trimmed(item).empty()) items.push_back(trimmed(item));
    return items;
}

// The icon theme the user chose in GTK's settings, else the desktop's default.
std::string userThemeName() {
    std::string configHome = environment("XDG_CONFIG_HOME");
    if (configHome.empty() && !environment("HOME").empty())
        configHome = environment("HOME") + "/.config";
    std::ifstream settings(fs::path(configHome) / "gtk-3.0/settings.ini");
    std::string line;
    while (std::getline(settings, line)) {
        auto eq = line.find('=');
        if (eq != std::string::npos && trimmed(line.substr(0, eq)) == "gtk-icon-theme-name")
            return trimmed(line.substr(eq + 1));
    }
    return "Adwaita";
}

struct Theme {
    std::string name;
    std::vector<std::string> inherits;
    std::vector<std::string> directories; // scalable ones first, then larger sizes first
};

std::optional<Theme> readTheme(const std::string& name, const std::vector<fs::path>& bases) {
    for (const auto& base : bases) {
        std::ifstream index(base / name / "index.theme");
        if (!index) continue;
        Theme theme{name, {}, {}};
        std::map<std::string, std::pair<bool, int>> kinds; // directory -> (scalable, size)
        std::vector<std::string> listed;
        std::string section, line;
        while (std::getline(index, line)) {
            line = trimmed(line);
            if (line.starts_with('[') && line.ends_with(']')) {
                section = line.substr(1, line.size() - 2);
                continue;
            }
            auto eq = line.find('=');
            if (eq == std::string::npos) continue;
            std::string key = trimmed(line.substr(0, eq)), value = trimmed(line.substr(eq + 1));
            if (section == "Icon Theme" && key == "Inherits")
                theme.inherits = commaList(value);
            else if (section == "Icon Theme" &&
                     (key == "Directories" || key == "ScaledDirectories"))
                for (auto& dir : commaList(value))
                    listed.push_back(dir);
            else if (key == "Type")
                kinds[section].first = value == "Scalable";
            else if (key == "Size")
                kinds[section].second = std::atoi(value.c_str());
        }
        std::stable_sort(listed.begin(), listed.end(), [&](const auto& a, const auto& b) {
            auto ka = kinds[a], kb = kinds[b];
            if (ka.first != kb.first) return ka.first;
            return ka.second > kb.second;
        });
        theme.directories = listed;
        return theme;
    }
    return std::nullopt;
}

// The user's theme and everything it inherits, then the usual fallbacks, each once.
std::vector<Theme> themeChain(const std::vector<fs::path>& bases) {
    std::vector<Theme> chain;
    std::vector<std::string> pending;
    auto seen = [&](const std::string& name) {
        return std::any_of(chain.begin(), chain.end(),
                           [&](const Theme& t) { return t.name == name; });
    };
    auto follow = [&](std::string first) {
        pending = {std::move(first)};
        while (!pending.empty() && chain.size() < 32) {
            std::string name = pending.front();
            pending.erase(pending.begin());
            if (seen(name)) continue;
            auto theme = readTheme(name, bases);
            if (!theme) continue;
            for (const auto& parent : theme->inherits)
                pending.push_back(parent);
            chain.push_back(std::move(*theme));
        }
    };
    follow(userThemeName());
    follow("Adwaita");
    follow("hicolor");
    return chain;
}

// Names are names: nothing that could step out of a theme's folders.
bool plainName(const std::string& name) {
    return !name.empty() && name.find('/') == std::string::npos && name.front() != '.' &&
           name.find('\0') == std::string::npos;
}

} // namespace

std::optional<std::string> IconThemeSymbols::symbolFile(const std::string& name) {
    if (!plainName(name)) return std::nullopt;
    std::vector<std::string> names;
    if (!name.ends_with("-symbolic")) names.push_back(name + "-symbolic");
    names.push_back(name);
    auto bases = iconBases();
    auto chain = themeChain(bases);
    std::error_code error;
    for (const auto& candidate : names)
        for (const auto& theme : chain)
            for (const auto& dir : theme.directories)
                for (const auto& base : bases) {
                    fs::path file = base / theme.name / dir / (candidate + ".svg");
                    if (fs::is_regular_file(file, error)) return file.string();
                }
    return std::nullopt;
}

} // namespace tarvine::adapters::xdg
