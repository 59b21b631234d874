#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tarvine {

// An OLE2 compound file (the container of Word 97-2003 documents) read from memory through
// libgsf. The bytes must outlive the file.
class Ole2File {
public:
    // Nothing when the bytes are not a compound file.
    static std::optional<Ole2File> open(std::string_view bytes);

    // The whole stream of that name in the root storage, or nothing when it is missing,
    // unreadable or larger than `limit` bytes.
    std::optional<std::string> stream(const char* name, std::size_t limit) const;

private:
    struct Unref {
        void operator()(void* object) const;
    };
    Ole2File(void* input, void* infile) : input_(input), infile_(infile) {}
    std::unique_ptr<void, Unref> input_;
    std::unique_ptr<void, Unref> infile_;
};

} // namespace tarvine
