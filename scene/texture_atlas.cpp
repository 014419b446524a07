// Texture atlas: every texture's texels back to back in one byte buffer, with
// a fixed-size directory entry per texture. A linear arena, no resampling.
#include <cstdio>
#include <stdexcept>
#include <string>

#include "scene/scene_prep.h"

namespace {

constexpr uint64_t kMaxOffset = UINT32_MAX;
constexpr double kBytesPerMiB = 1048576.0;

uint64_t texel_bytes(const TextureData& tex) {
    return tex.is_float ? uint64_t{tex.pixelsf.size()} * sizeof(float) : uint64_t{tex.pixels8.size()};
}

const uint8_t* texel_data(const TextureData& tex) {
    return tex.is_float ? reinterpret_cast<const uint8_t*>(tex.pixelsf.data()) : tex.pixels8.data();
}

uint64_t align_up(uint64_t n) {
    return (n + ATLAS_OFFSET_ALIGNMENT - 1) / ATLAS_OFFSET_ALIGNMENT * ATLAS_OFFSET_ALIGNMENT;
}

}  // namespace

AtlasLayout plan_atlas_layout(const std::vector<uint64_t>& texture_bytes) {
    AtlasLayout layout;
    layout.offsets.reserve(texture_bytes.size());
    uint64_t end = 0;
    for (size_t i = 0; i < texture_bytes.size(); ++i) {
        const uint64_t offset = align_up(end);
        // Compared by subtraction so that no sum can wrap.
        if (offset > kMaxOffset || texture_bytes[i] > kAtlasAddressLimit - offset) {
            throw std::runtime_error("Texture atlas: texture " + std::to_string(i) +
                                     " does not fit below the 4 GiB atlas limit");
        }
        layout.offsets.push_back(static_cast<uint32_t>(offset));
        end = offset + texture_bytes[i];
    }
    layout.total_bytes = end;
    return layout;
}

void build_texture_atlas(Scene& scene) {
    std::vector<uint64_t> sizes;
    sizes.reserve(scene.textures.size());
    for (const TextureData& tex : scene.textures) sizes.push_back(texel_bytes(tex));
    const AtlasLayout layout = plan_atlas_layout(sizes);

    scene.atlas_data.clear();
    scene.atlas_data.reserve(static_cast<size_t>(layout.total_bytes));
    scene.atlas_entries.assign(scene.textures.size(), AtlasEntry{});
    for (size_t i = 0; i < scene.textures.size(); ++i) {
        const TextureData& tex = scene.textures[i];
        AtlasEntry& e = scene.atlas_entries[i];
        e.offset = layout.offsets[i];
        e.width = static_cast<uint32_t>(tex.width);
        e.height = static_cast<uint32_t>(tex.height);
        e.channels = static_cast<uint32_t>(tex.channels);
        e.flags = (tex.flag1 ? ATLAS_FLAG_FLAG1 : 0u) | (tex.is_float ? ATLAS_FLAG_FLOAT : 0u);
        scene.atlas_data.resize(e.offset, 0);  // zero padding up to the aligned start
        scene.atlas_data.insert(scene.atlas_data.end(), texel_data(tex), texel_data(tex) + sizes[i]);
    }
    if (!scene.textures.empty()) {
        std::printf("Texture atlas: %zu textures, %.1f MB\n", scene.textures.size(),
                    static_cast<double>(scene.atlas_data.size()) / kBytesPerMiB);
    }
}
