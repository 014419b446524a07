#include "pathtrace/render_setup.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "scene/ess_lut.h"
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

Material glass_material() {
    Material glass;
    for (float& c : glass.base_color) c = 1.0f;
    glass.roughness = 0.0f;
    glass.spec_trans = 1.0f;
    glass.ior = 1.5f;
    glass.specular = 0.5f;
    return glass;
}

Scene floor_under_lamp(const FloorUnderLamp& shape) {
    Scene scene;
    scene.materials.push_back(diffuse_material(shape.albedo));
    scene.materials.push_back(diffuse_material(0.0f, shape.radiance));
    const float f = shape.floor_half_width;
    const float f0[3] = {-f, 0, -f}, f1[3] = {-f, 0, f}, f2[3] = {f, 0, f}, f3[3] = {f, 0, -f};
    add_mesh_instance(scene, quad_mesh(f0, f1, f2, f3), 0);
    // Counter-clockwise seen from below: the lamp faces the floor.
    const float l = shape.lamp_half_width;
    const float l0[3] = {-l, 1, -l}, l1[3] = {l, 1, -l}, l2[3] = {l, 1, l}, l3[3] = {-l, 1, l};
    if (shape.lamp_faces_floor) {
        add_mesh_instance(scene, quad_mesh(l0, l1, l2, l3), 1);
    } else {
        add_mesh_instance(scene, quad_mesh(l0, l3, l2, l1), 1);
    }
    return scene;
}

Scene caustic_scene() {
    Scene scene;
    scene.materials.push_back(diffuse_material(0.8f));
    constexpr float kLightRadiance = 200.0f;
    scene.materials.push_back(diffuse_material(0.0f, kLightRadiance));
    scene.materials.push_back(glass_material());
    const float f0[3] = {-1.5f, 0.0f, -1.5f}, f1[3] = {-1.5f, 0.0f, 1.5f}, f2[3] = {1.5f, 0.0f, 1.5f},
                f3[3] = {1.5f, 0.0f, -1.5f};
    add_mesh_instance(scene, quad_mesh(f0, f1, f2, f3), 0);
    // Facing down (the winding's front side).
    const float l0[3] = {-0.15f, 2.0f, -0.15f}, l1[3] = {0.15f, 2.0f, -0.15f}, l2[3] = {0.15f, 2.0f, 0.15f},
                l3[3] = {-0.15f, 2.0f, 0.15f};
    add_mesh_instance(scene, quad_mesh(l0, l1, l2, l3), 1);
    const float centre[3] = {0.0f, 0.6f, 0.0f};
    add_mesh_instance(scene, sphere_mesh(centre, 0.3f), 2);
    const float eye[3] = {0.0f, 1.0f, 2.5f}, target[3] = {0.0f, 0.25f, 0.0f};
    set_camera(scene, eye, target, 40.0f);
    return scene;
}

Scene cornell_box_scene(const std::string& path, bool with_blocks) {
    std::ifstream in(path);
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
    // A wall triangle lies in a face of the box: its three corners share the
    // box's least or greatest coordinate on some axis. The blocks' and the
    // light's triangles do not.
    float box_min[3] = {INFINITY, INFINITY, INFINITY}, box_max[3] = {-INFINITY, -INFINITY, -INFINITY};
    for (const JsonValue& v : vertices)
        for (int c = 0; c < 3; ++c) {
            box_min[c] = std::min(box_min[c], static_cast<float>(v.array.at(c).number));
            box_max[c] = std::max(box_max[c], static_cast<float>(v.array.at(c).number));
        }
    auto on_wall = [&](const JsonValue& triangle) {
        for (int c = 0; c < 3; ++c)
            for (float face : {box_min[c], box_max[c]}) {
                bool all = true;
                for (const JsonValue& corner : triangle.array)
                    all = all && static_cast<float>(vertices.at(static_cast<size_t>(corner.number)).array.at(c).number) == face;
                if (all) return true;
            }
        return false;
    };
    for (const auto& [name, id] : material_ids) {
        const bool emitter = scene.materials[static_cast<size_t>(id)].emission[0] > 0.0f;
        MeshData mesh;
        std::map<size_t, uint32_t> remap;
        for (size_t t = 0; t < triangles.size(); ++t) {
            if (triangle_material.at(t).string != name) continue;
            if (!with_blocks && !emitter && !on_wall(triangles[t])) continue;
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

Scene cornell_glass_scene(const std::string& path) {
    Scene scene = cornell_box_scene(path, false);
    scene.materials.push_back(glass_material());
    // Under the light (x 213..343, z 227..332, y 554) and a little towards
    // the camera. A ball lens of index 1.5 focuses at 1.5 R from its centre;
    // the light, 294 above the centre, is imaged about 306 below it, so the
    // floor (260 below) catches a bright, slightly defocused image of the
    // light behind and under the sphere, where the camera sees it.
    const float centre[3] = {278.0f, 260.0f, 200.0f};
    constexpr float kRadius = 100.0f;
    add_mesh_instance(scene, sphere_mesh(centre, kRadius), static_cast<int>(scene.materials.size() - 1));
    return scene;
}

void prepare_renderer(VkRenderer& renderer, Scene& scene, const RenderOutput& output,
                      bool validation, const std::string& shaderDir, const std::string& shaderSrcDir,
                      bool floatAtomics) {
    build_scene_buffer(scene, static_cast<int>(output.padded_width()),
                       static_cast<int>(output.padded_height()), output.overscan_scale());
    renderer.init(validation, 0);
    if (!floatAtomics) renderer.hasFloatAtomics = false;
    renderer.createPipelines(scene, shaderDir, shaderSrcDir, nullptr);
    renderer.buildAccelerationStructures(scene);
    const std::vector<uint16_t> lut(ess_lut_precomputed, ess_lut_precomputed + kEssLutSize);
    renderer.createBuffers(scene, output, lut);
    renderer.createDescriptors();
    renderer.updateDescriptors();
}
