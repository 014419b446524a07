// The JSON scene format (the built-in Cornell box, material types, errors,
// the animation block against the library's own loader) and OBJ/MTL import.
#include <gtest/gtest.h>

#include <cstring>

#include "cli/json_scene_import.h"
#include "cli/obj_import.h"
#include "cli/scene_import.h"
#include "import_fixtures.h"
#include "scene/scene_loader.h"

namespace {

std::string json_error(const std::string& text) {
    TestContext t;
    ImportReport report;
    try {
        import_json_scene(t.ctx, text, "s.json", report);
    } catch (const ImportError& e) {
        return e.what();
    }
    return "";
}

const char* const kTriangle = R"("vertices": [[0,0,0],[1,0,0],[0,1,0]], "triangles": [[0,1,2]])";

std::string scene_with(const std::string& materials, const std::string& rest = "") {
    return std::string("{\"materials\": {") + materials + "}, " + kTriangle + rest + "}";
}

TEST(JsonSceneImport, BuiltinCornellBoxHasItsMaterialsAndOneObjectPerGroup) {
    TestContext t;
    ImportReport report;
    import_builtin_scene(t.ctx, report);
    const Scene& s = t.scene();
    ASSERT_EQ(s.materials.size(), 4u);  // green, light, red, white (object order)
    EXPECT_EQ(s.instances.size(), 16u);
    EXPECT_FLOAT_EQ(s.materials[1].emission[0], 17.0f);
    EXPECT_FLOAT_EQ(s.materials[1].base_color[0], 0.0f);
    EXPECT_FLOAT_EQ(s.materials[2].base_color[0], 0.65f);
    EXPECT_FLOAT_EQ(s.materials[3].specular, 0.0f);  // Lambertian: no specular lobe
    EXPECT_TRUE(report.has_camera);
    EXPECT_FLOAT_EQ(s.camera_position[2], -800.0f);
    EXPECT_FLOAT_EQ(s.camera_fov, 40.0f);
    EXPECT_TRUE(report.warnings.empty());
    EXPECT_TRUE(report.unsupported.empty());
    // Each group keeps only its own vertices: the floor is one quad.
    EXPECT_EQ(s.meshes[0].vertex_count(), 4u);
    EXPECT_EQ(s.meshes[0].face_materials, (std::vector<int32_t>{3, 3}));
}

TEST(JsonSceneImport, MaterialTypesMapTheirKeys) {
    TestContext t;
    ImportReport report;
    import_json_scene(t.ctx, scene_with(R"(
        "a": {"type": "metal", "albedo": [0.9, 0.6, 0.2], "roughness": 0.3, "edge_tint": [1, 0.9, 0.8]},
        "b": {"type": "dielectric", "ior": 1.33, "color": [0.5, 1, 1], "absorption_distance": 2},
        "c": {"type": "principled", "base_color": [0.1, 0.2, 0.3], "coat": 0.5, "sheen": 0.25,
              "alpha_mode": "blend", "alpha": 0.4, "subsurface": 0.6, "glitter": 1})"), "s.json", report);
    const auto& m = t.scene().materials;
    EXPECT_FLOAT_EQ(m[0].metallic, 1.0f);
    EXPECT_FLOAT_EQ(m[0].roughness, 0.3f);
    EXPECT_FLOAT_EQ(m[0].f82_tint[2], 0.8f);
    EXPECT_FLOAT_EQ(m[1].spec_trans, 1.0f);
    EXPECT_FLOAT_EQ(m[1].ior, 1.33f);
    EXPECT_FLOAT_EQ(m[1].transmission_color[0], 0.5f);
    EXPECT_FLOAT_EQ(m[1].transmission_extra, 2.0f);
    EXPECT_FLOAT_EQ(m[2].extra_c, 0.5f);
    EXPECT_FLOAT_EQ(m[2].extra_params[2], 0.25f);
    EXPECT_EQ(m[2].alpha_mode, 2);
    EXPECT_FLOAT_EQ(m[2].subsurface, 0.6f);
    EXPECT_EQ(report.unsupported.size(), 1u);  // "glitter"
}

TEST(JsonSceneImport, ContentErrorsNameTheKey) {
    const struct {
        std::string text;
        const char* message;
    } cases[] = {
        {"{\"materials\": ", "malformed JSON"},
        {"[1, 2]", "expected an object"},
        {scene_with(R"("a": {"type": "plastic"})"), "unknown type \"plastic\""},
        {scene_with(R"("a": {"type": "lambertian", "albedo": [1, 2]})"), "materials.a.albedo"},
        {scene_with(R"("a": {"type": "lambertian"})", R"(, "triangle_material": ["b"])"), "unknown material \"b\""},
        {scene_with(R"("a": {"type": "lambertian"})", R"(, "triangle_material": ["a", "a"])"), "one material name per triangle"},
        {R"({"materials": {"a": {"type": "lambertian"}}, "vertices": [[0,0,0]], "triangles": [[0,0,7]]})", "vertex index 7"},
        {R"({"materials": {"a": {"type": "lambertian"}}, "vertices": [[0,0,0]]})", "triangles: missing"},
        {scene_with(R"("a": {"type": "lambertian"})", R"(, "camera": {"vfov_deg": 0})"), "camera.vfov_deg"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string err = json_error(c.text);
        EXPECT_EQ(err.rfind("s.json: ", 0), 0u) << err;
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
    }
}

// The animation block reads exactly as the library's load_scene reads it.
TEST(JsonSceneImport, AnimationBlockMatchesTheLibraryLoader) {
    const char* const blocks[] = {
        R"({"duration": 2, "fps": 24, "loop": true, "keyframes": [{"time": 0, "position": [1,2,3], "look_at": [0,0,0]},
                                                                  {"time": 2, "position": [4,5], "look_at": [1,1,1,9]}]})",
        R"({"duration": "long", "fps": "fast", "loop": 1, "keyframes": [7, {"time": "x", "position": [1, "a", 3]}]})",
        R"({"keyframes": {}})",
        R"("not an object")",
    };
    ScratchDir dir;
    for (const char* block : blocks) {
        SCOPED_TRACE(block);
        const std::string text = scene_with(R"("a": {"type": "lambertian"})", std::string(", \"animation\": ") + block);
        write_text(dir.file("a.json"), text);
        const Scene ref = load_scene(dir.file("a.json").c_str(), 16, 16, 1.0f);
        TestContext t;
        ImportReport report;
        import_json_scene(t.ctx, text, "a.json", report);
        const Scene& s = t.scene();
        EXPECT_EQ(s.anim_duration, ref.anim_duration);
        EXPECT_EQ(s.anim_fps, ref.anim_fps);
        EXPECT_EQ(s.anim_loop, ref.anim_loop);
        ASSERT_EQ(s.camera_keyframes.size(), ref.camera_keyframes.size());
        for (size_t k = 0; k < s.camera_keyframes.size(); ++k) {
            EXPECT_EQ(0, std::memcmp(&s.camera_keyframes[k], &ref.camera_keyframes[k], sizeof(CameraKeyframe)));
        }
        if (!ref.camera_keyframes.empty()) {
            EXPECT_EQ(s.camera_position[1], ref.camera_position[1]);
        }
    }
}

const char* const kObj = R"(mtllib scene.mtl
v 0 0 0
v 1 0 0
v 1 1 0
v 0 1 0
vt 0 0
vt 1 0
vt 1 1
vt 0 1
o first
usemtl shiny
f 1/1 2/2 3/3 4/4
o second
usemtl lamp
f 1 2 3
)";

const char* const kMtl = R"(newmtl shiny
Kd 0.8 0.1 0.1
Pr 0.2
Pm 1
Ni 1.6
map_Kd red.png
newmtl lamp
Kd 0 0 0
Ke 5 4 3
d 0.5
)";

TEST(ObjImport, ObjectsMaterialsAndTexturesReachTheScene) {
    ScratchDir dir;
    const uint8_t red[4] = {200, 10, 10, 255};
    write_bytes(dir.file("red.png"), solid_png(2, 2, red));
    write_text(dir.file("scene.obj"), kObj);
    write_text(dir.file("scene.mtl"), kMtl);
    TestContext t;
    ImportReport report;
    import_obj_file(t.ctx, dir.file("scene.obj"), {}, report);
    const Scene& s = t.scene();
    ASSERT_EQ(s.instances.size(), 2u);  // one object each
    ASSERT_EQ(s.materials.size(), 2u);
    EXPECT_EQ(s.meshes[0].triangle_count(), 2u);  // the quad, triangulated
    EXPECT_TRUE(s.meshes[0].has_uvs);
    EXPECT_FLOAT_EQ(s.meshes[0].uvs[1], 1.0f);  // v flipped: OBJ's v runs up
    EXPECT_FLOAT_EQ(s.materials[0].roughness, 0.2f);
    EXPECT_FLOAT_EQ(s.materials[0].metallic, 1.0f);
    EXPECT_FLOAT_EQ(s.materials[0].ior, 1.6f);
    EXPECT_EQ(s.materials[0].albedo_tex, 0);
    ASSERT_EQ(s.textures.size(), 1u);
    EXPECT_EQ(s.textures[0].pixels8[0], 200);
    EXPECT_FLOAT_EQ(s.materials[1].emission[0], 5.0f);
    EXPECT_EQ(s.materials[1].alpha_mode, 2);
    EXPECT_EQ(s.instances[1].material, 1);
}

TEST(ObjImport, BadIndicesAndMissingTexturesFailWithTheFileNamed) {
    ScratchDir dir;
    write_text(dir.file("scene.mtl"), kMtl);  // red.png is absent
    write_text(dir.file("scene.obj"), kObj);
    write_text(dir.file("bad.obj"), "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 9\n");
    const struct {
        const char* file;
        const char* message;
    } cases[] = {{"bad.obj", "vertex"}, {"scene.obj", "red.png"}, {"absent.obj", "No such file"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        TestContext t;
        ImportReport report;
        std::string err;
        try {
            import_obj_file(t.ctx, dir.file(c.file), {}, report);
        } catch (const ImportError& e) {
            err = e.what();
        }
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
    }
    // Allowed to go without: a warning names the texture, the scene imports.
    ObjOptions lenient;
    lenient.missing_textures_fatal = false;
    TestContext t;
    ImportReport report;
    import_obj_file(t.ctx, dir.file("scene.obj"), lenient, report);
    EXPECT_EQ(t.scene().instances.size(), 2u);
    ASSERT_FALSE(report.warnings.empty());
    EXPECT_NE(report.warnings.back().find("red.png"), std::string::npos);
}

}  // namespace
