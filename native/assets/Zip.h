#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

typedef struct zip zip_t;

namespace tarvine {

// A ZIP archive read from memory (libzip). The bytes must outlive the archive.
class ZipArchive {
public:
    // Nothing when the bytes are not a ZIP archive.
    static std::optional<ZipArchive> open(std::string_view bytes);

    // The uncompressed content of the entry, or nothing when it is missing, damaged or larger
    // than `limit` bytes (the guard against a small file that inflates without end).
    std::optional<std::string> read(const std::string& name, std::size_t limit) const;

private:
    struct Closer {
        void operator()(zip_t* archive) const;
    };
    explicit ZipArchive(zip_t* archive) : archive_(archive) {}
    std::unique_ptr<zip_t, Closer> archive_;
};

} // namespace tarvine
