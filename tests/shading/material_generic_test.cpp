// The generic material unit of the precompiled programs against the unit
// the material compiler generates: for materials with every combination of
// default-graph textures, both give bit-identical results at many points.
#include <cstring>
#include <string>

#include "codegen/material_codegen.h"
#include "gpu/shader_compiler.h"
#include "gpu_test_support.h"
#include "scene/scene.h"
#include "scene/scene_prep.h"

namespace {

constexpr uint32_t kPoints = 48;
constexpr uint32_t kResultFloats = 11;
constexpr uint32_t kBindings = 8;

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
        std::string source = test_program_source("material_compare.comp");
        const std::string marker = "// MATERIAL_UNIT";
        source.replace(source.find(marker), marker.size(), unit);
        const size_t program = gpu().compile(source, "material_compare.comp", kBindings);

        GpuInstance instance{};
        instance.tangent_offset = 0;
        const auto materials = upload(scene.gpu_materials);
        const Atlas atlas = upload_atlas(scene);
        const auto inst = upload(std::vector<GpuInstance>{instance});
        const auto index = upload(std::vector<uint32_t>{0, 1, 2});
        const auto tangent = upload(std::vector<float>{1, 0, 0, 0.8f, 0.6f, 0, 1, 0.1f, 0});
        const uint32_t count = static_cast<uint32_t>(scene.materials.size()) * kPoints;
        GpuBuffer out(gpu(), count * kResultFloats * sizeof(float));
        const uint32_t push[2] = {static_cast<uint32_t>(scene.materials.size()), kPoints};
        gpu().dispatch(program,
                       {materials.get(), atlas.data.get(), atlas.entries.get(), atlas.srgb.get(), inst.get(),
                        index.get(), tangent.get(), &out},
                       groups_for(count), push, sizeof(push));
        return out.read<float>();
    }
};

}  // namespace

TEST_F(MaterialGenericTest, GivesExactlyTheDefaultGraphsResults) {
    const Scene scene = material_scene();
    const std::vector<float> generated = evaluate(generate_material_eval_glsl(scene, nullptr), scene);
    const std::vector<float> generic =
        evaluate(read_shader_source(shader_include_dir() + "/generic/material_eval.glsl"), scene);
    ASSERT_EQ(generated.size(), generic.size());
    for (size_t i = 0; i < generated.size(); ++i) {
        ASSERT_EQ(std::memcmp(&generated[i], &generic[i], sizeof(float)), 0)
            << "material " << i / (kPoints * kResultFloats) << ", point "
            << (i / kResultFloats) % kPoints << ", value " << i % kResultFloats << ": " << generated[i]
            << " vs " << generic[i];
    }
}
