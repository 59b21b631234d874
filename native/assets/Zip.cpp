#include "Zip.h"

#include <zip.h>

namespace tarvine {

void ZipArchive::Closer::operator()(zip_t* archive) const {
    zip_discard(archive);
}

std::optional<ZipArchive> ZipArchive::open(std::string_view bytes) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
    zip_error_fini(&error);
    if (!source) return std::nullopt;
    zip_error_init(&error);
    zip_t* archive = zip_open_from_source(source, ZIP_RDONLY, &error);
    zip_error_fini(&error);
    if (!archive) {
        zip_source_free(source);
        return std::nullopt;
    }
    return ZipArchive(archive);
}

std::optional<std::string> ZipArchive::read(const std::string& name, std::size_t limit) const {
    zip_file_t* file = zip_fopen(archive_.get(), name.c_str(), 0);
    if (!file) return std::nullopt;
    std::string content;
    char buffer[65536];
    bool ok = true;
    while (true) {
        zip_int64_t n = zip_fread(file, buffer, sizeof buffer);
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0) break;
        if (content.size() + static_cast<std::size_t>(n) > limit) {
            ok = false;
            break;
        }
        content.append(buffer, static_cast<std::size_t>(n));
    }
    zip_fclose(file);
    if (!ok) return std::nullopt;
    return content;
}

} // namespace tarvine
