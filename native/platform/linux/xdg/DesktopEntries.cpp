#include "DesktopEntries.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace tarvine::adapters::xdg {

namespace {

struct Entry {
    Application application;
    std::string startupWMClass;
};

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::vector<std::filesystem::path> applicationDirectories() {
    std::vector<std::filesystem::path> dirs;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (dataHome && *dataHome)
        dirs.emplace_back(std::filesystem::path(dataHome) / "applications");
    else if (home && *home)
        dirs.emplace_back(std::filesystem::path(home) / ".local/share/applications");
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    std::string list = dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share";
    std::istringstream parts(list);
    std::string part;
    while (std::getline(parts, part, ':'))
        if (!part.empty()) dirs.emplace_back(std::filesystem::path(part) / "applications");
    return dirs;
}

std::optional<Entry> readEntry(const std::filesystem::path& path) {
    std::ifstream file(path);
    if (!file) return std::nullopt;
    Entry entry;
    entry.application.id = path.stem().string();
    bool inMain = false;
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.front() == '[') {
            inMain = line == "[Desktop Entry]";
            continue;
        }
        if (!inMain) continue;
        auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = line.substr(0, eq);
        std::string value = line.substr(eq + 1);
        while (!key.empty() && key.back() == ' ')
            key.pop_back();
        while (!value.empty() && value.front() == ' ')
            value.erase(value.begin());
        if (key == "Name")
            entry.application.name = value;
        else if (key == "Icon")
            entry.application.icon = value;
        else if (key == "StartupWMClass")
            entry.startupWMClass = value;
    }
    if (entry.application.name.empty()) return std::nullopt;
    return entry;
}

} // namespace

std::optional<Application> applicationForWindowClass(const std::string& instance,
                                                     const std::string& klass) {
    const std::string wantedClass = lower(klass);
    const std::string wantedInstance = lower(instance);
    std::optional<Application> byFileName;
    std::error_code error;
    for (const auto& dir : applicationDirectories()) {
        for (std::filesystem::directory_iterator it(dir, error), end; !error && it != end;
             it.increment(error)) {
            if (it->path().extension() != ".desktop") continue;
            auto entry = readEntry(it->path());
            if (!entry) continue;
            if (!entry->startupWMClass.empty() && (lower(entry->startupWMClass) == wantedClass ||
                                                   lower(entry->startupWMClass) == wantedInstance))
                return entry->application;
            const std::string id = lower(entry->application.id);
            if (!byFileName && (id == wantedClass || id == wantedInstance))
                byFileName = entry->application;
        }
        error.clear();
    }
    return byFileName;
}

} // namespace tarvine::adapters::xdg
