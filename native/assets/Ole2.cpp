#include "Ole2.h"

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-input.h>

namespace tarvine {

void Ole2File::Unref::operator()(void* object) const {
    g_object_unref(object);
}

std::optional<Ole2File> Ole2File::open(std::string_view bytes) {
    GsfInput* input = gsf_input_memory_new(reinterpret_cast<const guint8*>(bytes.data()),
                                           static_cast<gsf_off_t>(bytes.size()), FALSE);
    if (!input) return std::nullopt;
    GError* error = nullptr;
    GsfInfile* infile = gsf_infile_msole_new(input, &error);
    if (error) g_error_free(error);
    if (!infile) {
        g_object_unref(input);
        return std::nullopt;
    }
    return Ole2File(input, infile);
}

std::optional<std::string> Ole2File::stream(const char* name, std::size_t limit) const {
    GsfInput* child = gsf_infile_child_by_name(GSF_INFILE(infile_.get()), name);
    if (!child) return std::nullopt;
    std::unique_ptr<void, Unref> owned(child);
    gsf_off_t size = gsf_input_size(child);
    if (size < 0 || static_cast<std::size_t>(size) > limit) return std::nullopt;
    std::string content(static_cast<std::size_t>(size), '\0');
    if (size > 0 && !gsf_input_read(child, static_cast<std::size_t>(size),
                                    reinterpret_cast<guint8*>(content.data())))
        return std::nullopt;
    return content;
}

} // namespace tarvine
