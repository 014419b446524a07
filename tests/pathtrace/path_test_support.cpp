#include "pathtrace/path_test_support.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "api/ess_lut.h"
#include "scene/json.h"
#include "scene/scene_prep.h"

namespace {
constexpr double kPi = 3.14159265358979323846;
}

Material diffuse_material(float albedo, float emission) {
    Material m;
    for (int c = 0; c < 3; ++c) {
        m.base_color[c] = albedo;
        m.emission[c] = emission;
    }
    m.roughness = 1.0f;
    m.specular = 0.0f;
    m.ior = 1.5f;
    return m;
}

int add_mesh_instance(Scene& scene, MeshData mesh, int material) {
    mesh.material = static_cast<uint32_t>(material);
    compute_face_normals(mesh);
    scene.meshes.push_back(std::move(mesh));
    Instance inst;
    inst.mesh = static_cast<uint32_t>(scene.meshes.size() - 1);
    inst.material = material;
    scene.instances.push_back(inst);
    return static_cast<int>(scene.instances.size() - 1);
}

MeshData sphere_mesh(const float centre[3], float radius, bool inward, int rings, int segments) {
    MeshData mesh;
    for (int r = 0; r <= rings; ++r) {
        const double theta = kPi * r / rings;
        for (int s = 0; s <= segments; ++s) {
            const double phi = 2.0 * kPi * s / segments;
            const double n[3] = {std::sin(theta) * std::cos(phi), std::cos(theta),
                                 std::sin(theta) * std::sin(phi)};
            for (int c = 0; c < 3; ++c) {
                mesh.positions.push_back(centre[c] + radius * static_cast<float>(n[c]));
                mesh.normals.push_back(static_cast<float>(inward ? -n[c] : n[c]));
            }
        }
    }
    const uint32_t row = static_cast<uint32_t>(segments + 1);
    for (uint32_t r = 0; r < static_cast<uint32_t>(rings); ++r) {
        for (uint32_t s = 0; s < static_cast<uint32_t>(segments); ++s) {
            const uint32_t a = r * row + s, b = a + row, c = b + 1, d = a + 1;
            // (a, d, c) winds outwards: phi grows towards +z from +x.
            const uint32_t tris[2][3] = {{a, d, c}, {a, c, b}};
            for (const auto& t : tris) {
                if (inward) {
                    mesh.indices.insert(mesh.indices.end(), {t[0], t[2], t[1]});
                } else {
                    mesh.indices.insert(mesh.indices.end(), {t[0], t[1], t[2]});
                }
            }
        }
    }
    mesh.has_normals = true;
    return mesh;
}

MeshData quad_mesh(const float a[3], const float b[3], const float c[3], const float d[3]) {
    MeshData mesh;
    for (const float* p : {a, b, c, d}) mesh.positions.insert(mesh.positions.end(), p, p + 3);
    mesh.uvs = {0, 0, 1, 0, 1, 1, 0, 1};
    mesh.has_uvs = true;
    mesh.indices = {0, 1, 2, 0, 2, 3};
    return mesh;
}

void set_uniform_environment(Scene& scene, float value) {
    TextureData tex;
    tex.width = 1;
    tex.height = 1;
    tex.channels = 3;
    tex.is_float = true;
    tex.pixelsf = {value, value, value};
    scene.textures.push_back(tex);
    scene.envmap_texture = static_cast<int32_t>(scene.textures.size() - 1);
}

void set_camera(Scene& scene, const float position[3], const float look_at[3], float fov) {
    std::memcpy(scene.camera_position, position, sizeof(scene.camera_position));
    std::memcpy(scene.camera_look_at, look_at, sizeof(scene.camera_look_at));
    scene.camera_fov = fov;
}

std::string repository_dir() {
    const char* dir = std::getenv("VITREL_SOURCE_DIR");
    return dir ? dir : VITREL_TEST_SOURCE_DIR;
}

Scene cornell_box_scene() {
    std::ifstream in(repository_dir() + "/scenes/cornell_box.json");
    std::stringstream text;
    text << in.rdbuf();
    const std::string json = text.str();
    JsonParser parser(json.data(), json.data() + json.size());
    const JsonValue root = parser.parse_value();
    if (root.kind != JsonKind::Object) throw std::runtime_error("cornell_box.json is not an object");

    Scene scene;
    std::map<std::string, int> material_ids;
    for (const auto& [name, value] : root["materials"].object) {
        const JsonValue& albedo = value["albedo"];
        const JsonValue& radiance = value["radiance"];
        Material m = diffuse_material(0.0f);
        for (int c = 0; c < 3; ++c) {
            m.base_color[c] = static_cast<float>(albedo.array.at(c).number);
            if (radiance.kind == JsonKind::Array) m.emission[c] = static_cast<float>(radiance.array.at(c).number);
        }
        material_ids[name] = static_cast<int>(scene.materials.size());
        scene.materials.push_back(m);
    }
    const auto& vertices = root["vertices"].array;
    const auto& triangles = root["triangles"].array;
    const auto& triangle_material = root["triangle_material"].array;
    for (const auto& [name, id] : material_ids) {
        MeshData mesh;
        std::map<size_t, uint32_t> remap;
        for (size_t t = 0; t < triangles.size(); ++t) {
            if (triangle_material.at(t).string != name) continue;
            for (const JsonValue& corner : triangles[t].array) {
                const size_t v = static_cast<size_t>(corner.number);
                auto [it, fresh] = remap.emplace(v, static_cast<uint32_t>(remap.size()));
                if (fresh) {
                    for (int c = 0; c < 3; ++c)
                        mesh.positions.push_back(static_cast<float>(vertices.at(v).array.at(c).number));
                }
                mesh.indices.push_back(it->second);
            }
        }
        if (!mesh.indices.empty()) add_mesh_instance(scene, std::move(mesh), id);
    }
    const JsonValue& camera = root["camera"];
    float position[3], look_at[3];
    for (int c = 0; c < 3; ++c) {
        position[c] = static_cast<float>(camera["position"].array.at(c).number);
        look_at[c] = static_cast<float>(camera["look_at"].array.at(c).number);
        scene.camera_up[c] = static_cast<float>(camera["up"].array.at(c).number);
    }
    set_camera(scene, position, look_at, static_cast<float>(camera["vfov_deg"].number));
    return scene;
}

Rgb Accumulation::mean(int x, int y) const {
    const float* p = &eye[4 * (static_cast<size_t>(y) * width + x)];
    const double n = p[3] > 0.0f ? p[3] : 1.0;
    return {p[0] / n, p[1] / n, p[2] / n};
}

Rgb Accumulation::region_mean(int x0, int y0, int x1, int y1) const {
    Rgb sum{0, 0, 0};
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            const Rgb m = mean(x, y);
            for (int c = 0; c < 3; ++c) sum[c] += m[c];
        }
    const double n = static_cast<double>(x1 - x0) * (y1 - y0);
    return {sum[0] / n, sum[1] / n, sum[2] / n};
}

long long Accumulation::dropped() const {
    long long total = 0;
    for (size_t i = 3; i < light.size(); i += 4) total += light[i];
    return total;
}

void PathTest::TearDown() {
    if (!renderer) return;
    renderer->destroy();
    EXPECT_EQ(renderer->validationMessageCount.load(), 0u)
        << "validation layer reported problems (see [Vulkan] lines above)";
}

void PathTest::prepare(Scene scene, int size, bool floatAtomics) {
    if (renderer) renderer->destroy();
    scene_ = std::move(scene);
    output_ = RenderOutput{};
    output_.width = output_.height = static_cast<uint32_t>(size);
    output_.overscan = 0;
    output_.quality = 1;
    build_scene_buffer(scene_, size, size, output_.overscan_scale());
    renderer = std::make_unique<VkRenderer>();
    renderer->init(true, 0);
    if (!floatAtomics) renderer->hasFloatAtomics = false;
    renderer->createPipelines(scene_, VITREL_SHADER_DIR, repository_dir() + "/shaders", nullptr);
    renderer->buildAccelerationStructures(scene_);
    const std::vector<uint16_t> lut(ess_lut_precomputed, ess_lut_precomputed + kEssLutSize);
    renderer->createBuffers(scene_, output_, lut);
    renderer->createDescriptors();
    renderer->updateDescriptors();
}

void PathTest::batch(int samples, int firstSample, bool clear, int traceParam) {
    renderer->renderBatch(scene_, output_, samples, traceParam, 0, firstSample, clear);
}

Accumulation PathTest::accumulation() {
    Accumulation a;
    a.width = renderer->renderWidth;
    a.height = renderer->renderHeight;
    renderer->readbackFramebuffers(a.eye, a.light);
    return a;
}

Accumulation PathTest::render(Scene scene, int size, int samples, int traceParam) {
    prepare(std::move(scene), size);
    batch(samples, 0, true, traceParam);
    return accumulation();
}
