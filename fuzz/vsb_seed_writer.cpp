// Writes the seed corpus of vsb_fuzzer: small caches that together use every
// section type. Usage: vsb_seed_writer <directory>
#include <cstdio>
#include <cstring>
#include <string>

#include "cache/vsb_format.h"

namespace {

MeshData triangle_mesh(bool optional_arrays) {
    MeshData m;
    m.positions = {0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0};
    m.indices = {0, 1, 2, 1, 3, 2};
    compute_face_normals(m);
    if (optional_arrays) {
        m.normals.assign(12, 0.5f);
        m.uvs = {0, 0, 1, 0, 0, 1, 1, 1};
        m.tangents.assign(12, 0.25f);
        m.face_materials = {0, 1};
        m.has_normals = m.has_uvs = m.has_tangents = m.has_face_materials = true;
    }
    return m;
}

Scene full_scene() {
    Scene s;
    s.meshes = {triangle_mesh(true), triangle_mesh(false)};
    s.materials.resize(2);
    s.gpu_materials.resize(2);
    Instance a, b;
    a.has_face_materials = true;
    a.face_materials = s.meshes[0].face_materials;
    b.mesh = 1;
    b.material = 1;
    s.instances = {a, b};
    s.atlas_entries = {AtlasEntry{0, 2, 1, 3, 0, {0, 0, 0}}, AtlasEntry{8, 1, 1, 1, 1, {0, 0, 0}}};
    s.atlas_data.assign(12, 7);
    s.envmap_texture = 1;
    s.env_cdf_width = 2;
    s.env_cdf_height = 2;
    s.env_total_weight = 1.0f;
    s.env_conditional_cdf = {1u << 31, 0xFFFFFFFFu, 1u << 30, 0xFFFFFFFFu};
    s.env_marginal_cdf = {1u << 31, 0xFFFFFFFFu};
    s.env_row_weights = {0.5f, 0.5f};
    s.emissive_tri_cdf = {0xFFFFFFFFu};
    s.light_cdf = {0xFFFFFFFFu};
    s.scene_params.assign(32, 1.0f);
    s.srgb_lut.assign(16, 0.5f);
    s.camera_keyframes = {CameraKeyframe{0, {0, 0, 1}, {0, 0, 0}}, CameraKeyframe{1, {1, 0, 1}, {0, 0, 0}}};
    s.anim_duration = 1.0f;
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    Scene meshes_only;
    meshes_only.meshes = {triangle_mesh(false)};
    Scene no_meshes = full_scene();
    no_meshes.meshes.clear();
    const bool ok = save_vsb((dir + "/full.vsb").c_str(), full_scene()) &&
                    save_vsb((dir + "/default.vsb").c_str(), Scene{}) &&
                    save_vsb((dir + "/meshes_only.vsb").c_str(), meshes_only) &&
                    save_vsb((dir + "/no_meshes.vsb").c_str(), no_meshes);
    return ok ? 0 : 1;
}
