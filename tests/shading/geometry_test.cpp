// Tangents of hit triangles from the renderer's packed geometry, and the
// whole library compiled and run under the renderer's descriptor layout.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "scene/ess_lut.h"
#include "gpu/gpu_records.h"
#include "gpu_test_support.h"
#include "scene/scene.h"
#include "scene/scene_prep.h"

namespace {

struct TangentPush {
    float object_to_world[16];  // mat4x3: four columns, each padded to four floats
    uint32_t count;
};

struct TangentQuery {
    uint32_t instance;
    int32_t primitive;
    float b1, b2;
};

// Mesh 0 has no tangents; mesh 1 (two triangles) has one per vertex.
Scene tangent_scene() {
    Scene scene;
    scene.materials.resize(1);
    MeshData plain;
    plain.positions = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    plain.indices = {0, 1, 2};
    MeshData tangents;
    tangents.positions = {0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0};
    tangents.indices = {0, 1, 2, 2, 1, 3};
    tangents.tangents = {1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 1, 0};
    tangents.has_tangents = true;
    scene.meshes = {plain, tangents};
    Instance a;
    a.mesh = 0;
    Instance b;
    b.mesh = 1;
    scene.instances = {a, b};
    return scene;
}

class GeometryTest : public GpuTest {};

TEST_F(GeometryTest, ReadTangentInterpolatesAndTransformsPackedTangents) {
    const Scene scene = tangent_scene();
    const GeometryPack pack = pack_geometry(scene);
    const InstanceTables tables = build_instance_tables(scene, pack.offsets);
    const std::vector<TangentQuery> queries = {
        {1, 0, 0.0f, 0.0f},     // vertex 0: (1, 0, 0)
        {1, 0, 0.5f, 0.5f},     // midpoint of vertices 1 and 2: (0, 1, 1) / 2
        {1, 1, 0.25f, 0.5f},    // second triangle 2, 1, 3
        {0, 0, 0.3f, 0.3f},     // mesh without tangents
        {7, 0, 0.3f, 0.3f},     // instance beyond the table
        {1, 5, 0.3f, 0.3f},     // primitive beyond the mesh's indices
        {1, -1, 0.3f, 0.3f},    // negative primitive id
    };
    // Object to world: scale x by 2, then swap y and z (columns of mat4x3).
    TangentPush push{{2, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 5, 6, 7, 0},
                     static_cast<uint32_t>(queries.size())};
    const auto instances = upload(tables.instances), indices = upload(pack.indices),
               tangents = upload(pack.tangents), io = upload(queries);
    gpu().dispatch(program("tangent_test.comp", 4), {instances.get(), indices.get(), tangents.get(), io.get()},
                   groups_for(push.count), &push, sizeof(push));
    const std::vector<float> out = io->read<float>();

    auto expect_tangent = [&](size_t q, const float (&object)[3]) {
        const float world[3] = {2 * object[0], object[2], object[1]};
        const float len = std::sqrt(world[0] * world[0] + world[1] * world[1] + world[2] * world[2]);
        ASSERT_EQ(out[4 * q], 1.0f) << "query " << q;
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(out[4 * q + 1 + c], world[c] / len, 1e-6f) << q;
    };
    expect_tangent(0, {1, 0, 0});
    expect_tangent(1, {0, 0.5f, 0.5f});
    // Corners 2, 1, 3 with weights 0.25, 0.25, 0.5.
    expect_tangent(2, {0.25f * 0 + 0.25f * 0 + 0.5f * 1, 0.25f * 0 + 0.25f * 1 + 0.5f * 1,
                       0.25f * 1 + 0.25f * 0 + 0.5f * 0});
    for (size_t q = 3; q < queries.size(); ++q) EXPECT_EQ(out[4 * q], 0.0f) << "query " << q;
}

TEST_F(GeometryTest, WholeLibraryRunsUnderTheRendererLayout) {
    Scene scene = tangent_scene();
    Material& m = scene.materials[0];
    m.base_color[0] = m.base_color[1] = m.base_color[2] = 0.8f;
    m.roughness = 0.5f;
    m.ior = 1.5f;
    m.specular = 0.5f;
    m.emission[1] = 1.0f;
    m.albedo_tex = 0;
    TextureData tex;
    tex.width = tex.height = 1;
    tex.channels = 3;
    tex.pixels8 = {0, 255, 0};
    scene.textures.push_back(tex);
    TextureData env;
    env.width = 4;
    env.height = 2;
    env.channels = 3;
    env.is_float = true;
    env.pixelsf.assign(24, 1.0f);
    scene.textures.push_back(env);
    scene.envmap_texture = 1;
    scene.instances[0].mesh = 1;  // instance 0 has tangents
    build_scene_buffer(scene, 8, 8, 1.0f);
    const GeometryPack pack = pack_geometry(scene);
    const InstanceTables tables = build_instance_tables(scene, pack.offsets);
    const std::vector<uint32_t> envBlock = build_env_block(scene);
    std::vector<uint8_t> atlas = scene.atlas_data;
    atlas.resize((atlas.size() + 3) / 4 * 4);

    std::vector<std::unique_ptr<GpuBuffer>> owned;
    std::vector<const GpuBuffer*> bindings(BINDING_COUNT);
    auto bind = [&](int binding, const auto& values) {
        owned.push_back(upload(values));
        bindings[binding] = owned.back().get();
    };
    bind(BINDING_SCENE_PARAMS, scene.scene_params);
    bind(BINDING_MATERIALS, scene.gpu_materials);
    bind(BINDING_INSTANCE_INFO, tables.instances);
    bind(BINDING_ESS_LUT, binding4_table(std::vector<uint16_t>(ess_lut_precomputed, ess_lut_precomputed + kEssLutSize)));
    bind(BINDING_INDICES, pack.indices);
    bind(BINDING_EMISSIVES, build_gpu_emissives(scene));
    bind(BINDING_EMISSIVE_TRI_CDF, scene.emissive_tri_cdf);
    bind(BINDING_ATLAS_DATA, atlas);
    bind(BINDING_ATLAS_ENTRIES, scene.atlas_entries);
    bind(BINDING_SRGB_LUT, scene.srgb_lut);
    bind(BINDING_LIGHT_CDF, scene.light_cdf);
    bind(BINDING_ENV_CDF, envBlock);
    bind(BINDING_TANGENTS, pack.tangents);
    bind(BINDING_OUTPUT, std::vector<float>(8, -1.0f));
    for (auto& b : bindings) {
        if (b || &b == &bindings[BINDING_ADDRESSES]) continue;
        owned.push_back(std::make_unique<GpuBuffer>(gpu(), 16));
        b = owned.back().get();
    }
    // The library reads its arrays through the addresses of these buffers.
    std::vector<VkDeviceAddress> addresses(BINDING_COUNT, 0);
    for (int b = 0; b < BINDING_COUNT; ++b)
        if (b != BINDING_ADDRESSES) addresses[b] = gpu().renderer().getBufferAddress(bindings[b]->handle());
    bind(BINDING_ADDRESSES, addresses);
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0};
    gpu().dispatch(program("library_link_test.comp", BINDING_COUNT), bindings, 1, identity,
                   sizeof(identity));
    const std::vector<float> out = bindings[BINDING_OUTPUT]->read<float>();
    EXPECT_EQ(out[0], 1.0f);                        // a valid BSDF sample
    EXPECT_GT(out[1], 0.0f);
    EXPECT_LT(out[2], 1e-5f);                       // its pdf is the BSDF's pdf
    EXPECT_NEAR(out[3], scene.srgb_lut[255], 1e-6f);  // green texel of the albedo texture
    EXPECT_EQ(out[4], 1.0f);                        // instance 0 has tangents
    EXPECT_EQ(out[5], 1.0f);                        // the environment samples
    EXPECT_LT(out[6], static_cast<float>(scene.light_cdf.size()));
}

}  // namespace
