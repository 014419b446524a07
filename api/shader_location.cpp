#include "api/shader_location.h"

#include <dlfcn.h>

#include <fstream>

#include "gpu/shader_files.h"

#ifndef VITREL_DEFAULT_SHADER_DIR
#error "VITREL_DEFAULT_SHADER_DIR must name the compiled-in shader directory"
#endif
#ifndef VITREL_INSTALLED_SHADER_RELDIR
#error "VITREL_INSTALLED_SHADER_RELDIR must name the shader directory relative to the library"
#endif

std::string default_shader_dir() {
    // An installed library cannot know its prefix at build time (the tree
    // may be relocated), so it asks the loader which file it was loaded from.
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&default_shader_dir), &info) != 0 && info.dli_fname) {
        std::string library = info.dli_fname;
        const size_t slash = library.rfind('/');
        if (slash != std::string::npos) {
            const std::string dir =
                library.substr(0, slash) + "/" + VITREL_INSTALLED_SHADER_RELDIR;
            if (std::ifstream(dir + shader_files::kEyePathRgen).good()) return dir;
        }
    }
    return VITREL_DEFAULT_SHADER_DIR;
}
