// The generic material unit of the precompiled programs against the unit
// the material compiler generates: for materials with every combination of
// default-graph textures, both give bit-identical results at many points.
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "codegen/material_codegen.h"
#include "gpu_test_support.h"
#include "scene/scene.h"
#include "scene/scene_prep.h"

namespace {

constexpr uint32_t kPoints = 48;
constexpr uint32_t kResultFloats = 11;
constexpr uint32_t kBindings = 8;

std::string read_file(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TextureData rgb8(int w, int h, bool linear, uint8_t seed) {
    TextureData t;
    t.width = w;
    t.height = h;
    t.channels = 3;
    t.flag1 = linear;
    for (int i = 0; i < 3 * w * h; ++i) t.pixels8.push_back(static_cast<uint8_t>(seed + 37 * i));
    return t;
}

// Materials whose mask bit k gives texture k (albedo, roughness, metallic,
// normal, emission): every texture both present and absent, and the
// emission texture of the last one is an id past the atlas. (Few
// materials: the generated unit's per-material switch makes lavapipe's
// compile time grow quickly with their number.)
constexpr int kMasks[] = {0, 31, 5, 10, 19, 12};

Scene material_scene() {
    Scene scene;
    for (int k = 0; k < 5; ++k) scene.textures.push_back(rgb8(3, 2, k == 3, static_cast<uint8_t>(11 * k)));
    for (int mask : kMasks) {
        Material m;
        m.base_color[0] = 0.1f * (mask % 7);
        m.base_color[1] = 0.5f;
        m.base_color[2] = 0.9f;
        m.roughness = 0.03f * mask;
        m.metallic = 0.02f * mask;
        m.emission[0] = 0.5f * (mask % 3);
        m.emission[2] = 2.0f;
        m.albedo_tex = mask & 1 ? 0 : -1;
        m.roughness_tex = mask & 2 ? 1 : -1;
        m.metallic_tex = mask & 4 ? 2 : -1;
        m.normal_tex = mask & 8 ? 3 : -1;
        m.emission_tex = mask & 16 ? (mask == kMasks[4] ? 99 : 4) : -1;
        scene.materials.push_back(m);
    }
    build_scene_buffer(scene, 8, 8, 1.0f);
    return scene;
}

class MaterialGenericTest : public GpuTest {
protected:
    std::vector<float> evaluate(const std::string& unit, const Scene& scene) {
        std::string source = read_file(std::string(VITREL_TEST_PROGRAM_DIR) + "/material_compare.comp");
        const std::string marker = "// MATERIAL_UNIT";
        source.replace(source.find(marker), marker.size(), unit);
        const size_t program = gpu().compile(source, "material_compare.comp", kBindings);

        std::vector<uint8_t> atlas = scene.atlas_data;
        atlas.resize((atlas.size() + 3) / 4 * 4, 0);
        GpuInstance instance{};
        instance.tangent_offset = 0;
        const std::vector<float> tangents = {1, 0, 0, 0.8f, 0.6f, 0, 1, 0.1f, 0};
        const std::vector<uint32_t> indices = {0, 1, 2};
        GpuBuffer materials(gpu(), scene.gpu_materials.size() * sizeof(GpuMaterial));
        GpuBuffer data(gpu(), atlas.size());
        GpuBuffer dir(gpu(), scene.atlas_entries.size() * sizeof(AtlasEntry));
        GpuBuffer lut(gpu(), scene.srgb_lut.size() * sizeof(float));
        GpuBuffer inst(gpu(), sizeof(GpuInstance));
        GpuBuffer index(gpu(), indices.size() * sizeof(uint32_t));
        GpuBuffer tangent(gpu(), tangents.size() * sizeof(float));
        const uint32_t count = static_cast<uint32_t>(scene.materials.size()) * kPoints;
        GpuBuffer out(gpu(), count * kResultFloats * sizeof(float));
        materials.write(scene.gpu_materials);
        data.write(atlas);
        dir.write(scene.atlas_entries);
        lut.write(scene.srgb_lut);
        inst.write(std::vector<GpuInstance>{instance});
        index.write(indices);
        tangent.write(tangents);
        const uint32_t push[2] = {static_cast<uint32_t>(scene.materials.size()), kPoints};
        gpu().dispatch(program, {&materials, &data, &dir, &lut, &inst, &index, &tangent, &out},
                       groups_for(count), push, sizeof(push));
        return out.read<float>();
    }
};

}  // namespace

TEST_F(MaterialGenericTest, GivesExactlyTheDefaultGraphsResults) {
    const Scene scene = material_scene();
    const std::vector<float> generated = evaluate(generate_material_eval_glsl(scene, nullptr), scene);
    const std::vector<float> generic =
        evaluate(read_file(shader_include_dir() + "/generic/material_eval.glsl"), scene);
    ASSERT_EQ(generated.size(), generic.size());
    for (size_t i = 0; i < generated.size(); ++i) {
        ASSERT_EQ(std::memcmp(&generated[i], &generic[i], sizeof(float)), 0)
            << "material " << i / (kPoints * kResultFloats) << ", point "
            << (i / kResultFloats) % kPoints << ", value " << i % kResultFloats << ": " << generated[i]
            << " vs " << generic[i];
    }
}
