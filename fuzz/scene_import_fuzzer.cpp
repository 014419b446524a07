// Fuzzes the glTF and OBJ/MTL conversion into a scene: any bytes either
// import or fail with ImportError, never reading outside the input and never
// touching the file system. An input that starts like glTF (the GLB magic or
// a JSON object) is glTF; anything else is OBJ, with the text after a line
// "# mtl" serving as its MTL file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "api/vitrel_api.h"
#include "cli/gltf_import.h"
#include "cli/obj_import.h"

namespace {

constexpr char kMtlMarker[] = "\n# mtl\n";

bool looks_like_gltf(const uint8_t* data, size_t size) {
    if (size >= 4 && data[0] == 'g' && data[1] == 'l' && data[2] == 'T' && data[3] == 'F') return true;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == ' ' || data[i] == '\n' || data[i] == '\r' || data[i] == '\t') continue;
        return data[i] == '{';
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    VitrelContext* ctx = vitrel_create();
    ImportReport report;
    try {
        if (looks_like_gltf(data, size)) {
            GltfOptions options;
            options.allow_files = false;
            options.missing_textures_fatal = false;
            options.camera_index = 0;
            import_gltf_bytes(ctx, data, size, "", "fuzz.gltf", options, report);
        } else {
            const std::string text(reinterpret_cast<const char*>(data), size);
            const size_t split = text.find(kMtlMarker);
            ObjOptions options;
            options.allow_files = false;
            options.missing_textures_fatal = false;
            import_obj_text(ctx, text.substr(0, split), split == std::string::npos ? "" : text.substr(split + sizeof kMtlMarker - 1),
                            "", "fuzz.obj", options, report);
        }
    } catch (const ImportError&) {
    }
    vitrel_destroy(ctx);
    return 0;
}
