// glTF import: the three containers, material mapping, hierarchy, cameras,
// lights, and malformed files that must fail with a message, not a crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "cli/gltf_import.h"
#include "import_fixtures.h"

namespace {

using nlohmann::json;

// The quad document, changed by a test, saved in the container its name's
// extension says and imported into a fresh context.
class GltfImport : public ::testing::Test {
protected:
    void import(const std::string& name, GltfOptions options = {}) {
        if (name.ends_with(".glb")) save_glb(doc, dir.file(name));
        else save_embedded(doc, dir.file(name));
        import_gltf_file(t.ctx, dir.file(name), options, report);
    }
    const Scene& scene() const { return t.scene(); }

    ScratchDir dir;
    GltfDoc doc = quad_gltf();
    TestContext t;
    ImportReport report;
};

std::string import_error(const std::string& path, GltfOptions options = {}) {
    TestContext t;
    ImportReport report;
    try {
        import_gltf_file(t.ctx, path, options, report);
    } catch (const ImportError& e) {
        return e.what();
    }
    return "";
}

TEST_F(GltfImport, EveryContainerGivesTheSameQuad) {
    save_embedded(doc, dir.file("embedded.gltf"));
    save_external(doc, dir.file("external.gltf"), "quad.bin");
    save_glb(doc, dir.file("quad.glb"));
    for (const char* name : {"embedded.gltf", "external.gltf", "quad.glb"}) {
        SCOPED_TRACE(name);
        TestContext t;
        ImportReport report;
        import_gltf_file(t.ctx, dir.file(name), {}, report);
        ASSERT_EQ(t.scene().meshes.size(), 1u);
        ASSERT_EQ(t.scene().instances.size(), 1u);
        const MeshData& m = t.scene().meshes[0];
        EXPECT_EQ(m.vertex_count(), 4u);
        EXPECT_EQ(m.indices, (std::vector<uint32_t>{0, 1, 2, 0, 2, 3}));
        EXPECT_TRUE(m.has_normals);
        EXPECT_TRUE(m.has_uvs);
        EXPECT_FLOAT_EQ(t.scene().materials[0].base_color[0], 0.5f);
        EXPECT_TRUE(report.unsupported.empty());
    }
}

TEST_F(GltfImport, MaterialExtensionsReachTheScene) {
    doc.json["extensionsUsed"] = {"KHR_materials_transmission", "KHR_materials_ior", "KHR_materials_clearcoat",
                                  "KHR_materials_sheen", "KHR_materials_specular", "KHR_materials_volume",
                                  "KHR_materials_emissive_strength", "KHR_materials_iridescence"};
    doc.json["materials"][0] = {
        {"pbrMetallicRoughness", {{"baseColorFactor", {0.2, 0.4, 0.6, 0.5}}, {"metallicFactor", 0.25}, {"roughnessFactor", 0.75}}},
        {"emissiveFactor", {1.0, 0.5, 0.0}},
        {"alphaMode", "MASK"},
        {"alphaCutoff", 0.3},
        {"extensions",
         {{"KHR_materials_emissive_strength", {{"emissiveStrength", 4.0}}},
          {"KHR_materials_transmission", {{"transmissionFactor", 0.9}}},
          {"KHR_materials_ior", {{"ior", 1.33}}},
          {"KHR_materials_clearcoat", {{"clearcoatFactor", 0.7}, {"clearcoatRoughnessFactor", 0.1}}},
          {"KHR_materials_sheen", {{"sheenColorFactor", {0.6, 0.6, 0.6}}, {"sheenRoughnessFactor", 0.4}}},
          {"KHR_materials_specular", {{"specularFactor", 0.5}}},
          {"KHR_materials_volume", {{"thicknessFactor", 1.0}, {"attenuationDistance", 2.0}, {"attenuationColor", {0.9, 0.8, 0.7}}}},
          {"KHR_materials_iridescence", {{"iridescenceFactor", 1.0}}}}}};
    import("m.gltf");
    const Material& m = scene().materials.at(0);
    EXPECT_FLOAT_EQ(m.base_color[2], 0.6f);
    EXPECT_FLOAT_EQ(m.metallic, 0.25f);
    EXPECT_FLOAT_EQ(m.roughness, 0.75f);
    EXPECT_FLOAT_EQ(m.emission[0], 4.0f);
    EXPECT_FLOAT_EQ(m.emission[1], 2.0f);
    EXPECT_EQ(m.alpha_mode, 1);
    EXPECT_FLOAT_EQ(m.alpha, 0.5f);
    EXPECT_FLOAT_EQ(m.alpha_cutoff, 0.3f);
    EXPECT_FLOAT_EQ(m.spec_trans, 0.9f);
    EXPECT_FLOAT_EQ(m.ior, 1.33f);
    EXPECT_FLOAT_EQ(m.extra_c, 0.7f);
    EXPECT_FLOAT_EQ(m.extra_params[0], 0.1f);
    EXPECT_FLOAT_EQ(m.extra_params[2], 0.6f);
    EXPECT_FLOAT_EQ(m.extra_params[3], 0.4f);
    EXPECT_FLOAT_EQ(m.specular, 0.25f);
    EXPECT_FLOAT_EQ(m.transmission_extra, 2.0f);
    EXPECT_FLOAT_EQ(m.transmission_color[2], 0.7f);
    EXPECT_EQ(m.thin_walled, 0);
    // The one unmapped extension is named, in one line.
    EXPECT_EQ(report.unsupported.count("KHR_materials_iridescence"), 1u);
    EXPECT_EQ(report_lines(report, "m.gltf").size(), 1u);
}

TEST_F(GltfImport, NodeHierarchyComposesTransformsAndGivesOneObjectPerNode) {
    doc.json["scenes"][0]["nodes"] = {1};
    doc.json["nodes"] = {{{"mesh", 0}, {"translation", {0, 0, -3}}},
                         {{"translation", {10, 0, 0}}, {"scale", {2, 2, 2}}, {"children", {0, 2}}},
                         {{"mesh", 0}, {"rotation", {0, 0, 0.70710678, 0.70710678}}}};
    import("h.glb");
    ASSERT_EQ(scene().instances.size(), 2u);
    const float* a = scene().instances[0].transform;  // row-major 3x4
    EXPECT_FLOAT_EQ(a[0], 2.0f);
    EXPECT_FLOAT_EQ(a[3], 10.0f);
    EXPECT_FLOAT_EQ(a[11], -6.0f);
    const float* b = scene().instances[1].transform;  // 90 degrees about z, scaled by 2
    EXPECT_NEAR(b[0], 0.0f, 1e-6f);
    EXPECT_NEAR(b[1], -2.0f, 1e-6f);
    EXPECT_NEAR(b[4], 2.0f, 1e-6f);
    EXPECT_EQ(scene().meshes.size(), 1u);  // instanced, not copied
}

TEST_F(GltfImport, EmissivePrimitivesBecomeInstancesOfTheirOwnSoTheyAreLights) {
    auto& prims = doc.json["meshes"][0]["primitives"];
    prims.push_back(prims[0]);
    prims.push_back(prims[0]);
    prims[1]["material"] = 1;
    prims[2]["material"] = 2;
    doc.json["materials"].push_back({{"name", "lamp"}, {"emissiveFactor", {4.0, 4.0, 4.0}}});
    doc.json["materials"].push_back({{"name", "dark"}, {"emissiveFactor", {0.0, 0.0, 0.0}}});
    import("e.gltf");
    // The grey and dark primitives share one mixed mesh, the lamp has its own.
    ASSERT_EQ(scene().meshes.size(), 2u);
    ASSERT_EQ(scene().instances.size(), 2u);
    int lamps = 0;
    for (const Instance& inst : scene().instances) {
        const MeshData& mesh = scene().meshes.at(static_cast<size_t>(inst.mesh));
        const bool glows = scene().materials.at(static_cast<size_t>(inst.material)).emission[0] > 0.0f;
        lamps += glows;
        EXPECT_EQ(mesh.indices.size(), glows ? 6u : 12u);
    }
    EXPECT_EQ(lamps, 1);
}

TEST_F(GltfImport, CameraIndexPlacesTheCamera) {
    doc.json["cameras"] = {{{"type", "perspective"}, {"perspective", {{"yfov", 0.5}, {"znear", 0.1}}}}};
    doc.json["nodes"].push_back({{"camera", 0}, {"translation", {0.5, 0.5, 4}}});
    doc.json["scenes"][0]["nodes"] = {0, 1};
    GltfOptions options;
    options.camera_index = 0;
    import("c.gltf", options);
    EXPECT_TRUE(report.has_camera);
    EXPECT_FLOAT_EQ(scene().camera_position[2], 4.0f);
    EXPECT_FLOAT_EQ(scene().camera_look_at[2], 3.0f);
    EXPECT_NEAR(scene().camera_fov, 0.5f * 180.0f / 3.14159265f, 1e-4f);
    options.camera_index = 1;
    EXPECT_NE(import_error(dir.file("c.gltf"), options).find("camera index 1"), std::string::npos);
}

TEST_F(GltfImport, PointLightBecomesASmallEmitter) {
    doc.json["extensionsUsed"] = {"KHR_lights_punctual"};
    doc.json["extensions"] = {{"KHR_lights_punctual", {{"lights", {{{"type", "point"}, {"intensity", 5.0}, {"color", {1, 0.5, 0.25}}},
                                                                   {{"type", "directional"}}}}}}};
    doc.json["nodes"].push_back({{"translation", {0.5, 0.5, 1}}, {"extensions", {{"KHR_lights_punctual", {{"light", 0}}}}}});
    doc.json["nodes"].push_back({{"extensions", {{"KHR_lights_punctual", {{"light", 1}}}}}});
    doc.json["scenes"][0]["nodes"] = {0, 1, 2};
    import("l.gltf");
    ASSERT_EQ(scene().instances.size(), 2u);
    const Instance& light = scene().instances[1];
    EXPECT_FLOAT_EQ(light.transform[3], 0.5f);
    EXPECT_FLOAT_EQ(light.transform[11], 1.0f);
    const Material& m = scene().materials.at(static_cast<size_t>(light.material));
    // Intensity = radiance * pi r^2, with r = transform scale.
    const float r = light.transform[0];
    EXPECT_NEAR(m.emission[0] * 3.14159265f * r * r, 5.0f, 1e-3f);
    EXPECT_FLOAT_EQ(m.emission[1] / m.emission[0], 0.5f);
    EXPECT_EQ(report.unsupported.count("directional lights (KHR_lights_punctual)"), 1u);
}

TEST_F(GltfImport, TextureFactorsAndTransformsBecomeExpressionGraphs) {
    const uint8_t red[4] = {255, 0, 0, 255};
    write_bytes(dir.file("red.png"), solid_png(4, 4, red));
    const int tex = add_texture(doc, "red.png");
    doc.json["extensionsUsed"] = {"KHR_texture_transform"};
    const json transform = {{"scale", {2, 2}}, {"rotation", 0.5}};
    doc.json["materials"][0]["pbrMetallicRoughness"] = {
        {"baseColorFactor", {0.5, 1.0, 1.0, 1.0}},
        {"baseColorTexture", {{"index", tex}, {"extensions", {{"KHR_texture_transform", transform}}}}}};
    import("t.gltf");
    ASSERT_EQ(scene().textures.size(), 1u);
    EXPECT_EQ(scene().textures[0].width, 4);
    EXPECT_EQ(scene().textures[0].pixels8[0], 255);
    EXPECT_TRUE(report.uses_expression_graphs);
    ASSERT_EQ(t.ctx->material_exprs.size(), 1u);
    const ExprGraph& albedo = t.ctx->material_exprs[0].albedo;
    ASSERT_GE(albedo.root, 0);
    bool has_xform = false;
    for (const ExprNode& n : albedo.nodes) has_xform = has_xform || n.op == ExprOp::TexRgbXform;
    EXPECT_TRUE(has_xform);
}

// Damaged files: each must fail with a message that says what is wrong.
struct Broken {
    const char* name;
    void (*damage)(GltfDoc&);
    const char* message;
};

const Broken kBroken[] = {
    {"accessor_count", [](GltfDoc& d) { d.json["accessors"][0]["count"] = 1000; }, "do not fit"},
    {"accessor_missing", [](GltfDoc& d) { d.json["meshes"][0]["primitives"][0]["attributes"]["POSITION"] = 42; }, "accessor 42"},
    {"view_missing", [](GltfDoc& d) { d.json["accessors"][1]["bufferView"] = 9; }, "buffer view 9"},
    {"view_past_buffer", [](GltfDoc& d) { d.json["bufferViews"][0]["byteOffset"] = 100000; }, "outside its buffer"},
    {"index_range", [](GltfDoc& d) { d.bin[128] = 0xFF; }, "out of range"},
    {"node_cycle", [](GltfDoc& d) { d.json["nodes"][0]["children"] = {0}; }, "cycle"},
    {"mesh_missing", [](GltfDoc& d) { d.json["nodes"][0]["mesh"] = 5; }, "mesh 5"},
    {"material_missing", [](GltfDoc& d) { d.json["meshes"][0]["primitives"][0]["material"] = 3; }, "material 3"},
    {"missing_texture", [](GltfDoc& d) {
         const int tex = add_texture(d, "nowhere.png");
         d.json["materials"][0]["pbrMetallicRoughness"]["baseColorTexture"] = {{"index", tex}};
     }, "nowhere.png"},
};

TEST_F(GltfImport, MalformedFilesFailWithAClearMessage) {
    for (const Broken& b : kBroken) {
        SCOPED_TRACE(b.name);
        GltfDoc doc = quad_gltf();
        b.damage(doc);
        const std::string path = dir.file(std::string(b.name) + ".gltf");
        save_external(doc, path, std::string(b.name) + ".bin");
        const std::string err = import_error(path);
        EXPECT_NE(err.find(path), std::string::npos) << err;
        EXPECT_NE(err.find(b.message), std::string::npos) << err;
    }
}

TEST_F(GltfImport, TruncatedGlbFailsAtEveryLength) {
    const std::vector<uint8_t> whole = glb_bytes(doc);
    for (size_t len : {size_t{0}, size_t{4}, size_t{12}, size_t{19}, size_t{20}, size_t{64}, whole.size() - 40,
                       whole.size() - 1}) {
        SCOPED_TRACE(len);
        const std::string path = dir.file("cut.glb");
        write_bytes(path, std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<long>(len)));
        EXPECT_FALSE(import_error(path).empty());
    }
    // A declared length shorter than the headers must not wrap the chunk
    // arithmetic around.
    std::vector<uint8_t> short_length = whole;
    std::fill(short_length.begin() + 8, short_length.begin() + 12, uint8_t{0});
    write_bytes(dir.file("short.glb"), short_length);
    EXPECT_NE(import_error(dir.file("short.glb")).find("fewer than its own 20 bytes"), std::string::npos);
}

// PNG headers that would make the decoder allocate far more than the file
// holds are refused before decoding.
TEST_F(GltfImport, OversizedPngsAreRefusedBeforeDecoding) {
    const uint8_t grey[4] = {128, 128, 128, 255};
    const auto texture_glb = [&](const std::string& name, size_t at, std::vector<uint8_t> bytes,
                                 size_t keep = SIZE_MAX) {
        doc = quad_gltf();
        std::vector<uint8_t> png = solid_png(1, 1, grey);
        std::copy(bytes.begin(), bytes.end(), png.begin() + static_cast<long>(at));
        png.resize(std::min(keep, png.size()));
        write_bytes(dir.file(name + ".png"), png);
        const int tex = add_texture(doc, name + ".png");
        doc.json["materials"][0]["pbrMetallicRoughness"]["baseColorTexture"] = {{"index", tex}};
        save_glb(doc, dir.file(name + ".glb"));
        return import_error(dir.file(name + ".glb"));
    };
    // IHDR width and height (big-endian, bytes 16..23) claim 20000 x 10000
    // texels: small enough for the decoder to start allocating, above the
    // importer's limit. The size check comes before the CRC is looked at.
    EXPECT_NE(texture_glb("huge", 16, {0, 0, 0x4E, 0x20, 0, 0, 0x27, 0x10}).find("above the limit"),
              std::string::npos);
    // As a warning when missing textures are allowed: the quad still imports.
    GltfOptions lenient;
    lenient.missing_textures_fatal = false;
    import("lenient.glb", lenient);
    EXPECT_EQ(scene().instances.size(), 1u);
    ASSERT_EQ(report.warnings.size(), 1u);
    EXPECT_NE(report.warnings[0].find("huge.png"), std::string::npos);
    // The IDAT chunk after the 8-byte signature and the 25-byte IHDR chunk
    // claims 256 MiB: the decoder would allocate that much before reading.
    EXPECT_NE(texture_glb("long", 33, {0x10, 0, 0, 0}).find("PNG chunk runs past the end"), std::string::npos);
    // The same claim in a chunk header that the end of the file cuts short.
    EXPECT_NE(texture_glb("cut", 33, {0x10, 0, 0, 0}, 33 + 11).find("PNG chunk runs past the end"),
              std::string::npos);
}

}  // namespace
