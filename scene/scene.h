// Scene records: everything the renderer draws, as plain aggregates owned by
// value. Cross-references are 32-bit indices, never pointers. Host fields are
// written by the scene calls, the JSON loader or the cache reader; derived
// fields are rebuilt by build_scene_buffer and must not be edited by hand.
#pragma once

#include <cstdint>
#include <vector>

#include "scene/vitrel_export.h"
#include "shaders/gpu_layout.h"

struct Material {
    float base_color[3] = {0.0f, 0.0f, 0.0f};
    float roughness = 0.0f;
    float metallic = 0.0f;
    float spec_trans = 0.0f;
    float ior = 0.0f;
    float extra_a = 4000.0f;
    float emission[3] = {0.0f, 0.0f, 0.0f};
    float extra_b = 0.0f;
    int32_t albedo_tex = -1;
    int32_t roughness_tex = -1;
    float specular = 0.0f;
    float extra_c = 0.0f;
    int32_t metallic_tex = -1;
    int32_t normal_tex = -1;
    float extra_params[7] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    float subsurface = 0.0f;
    float subsurface_radius[3] = {1.0f, 0.2f, 0.1f};
    float subsurface_scale = 0.05f;
    float subsurface_ext[2] = {1.4f, 0.0f};
    float f82_tint[3] = {1.0f, 1.0f, 1.0f};
    float transmission_color[3] = {1.0f, 1.0f, 1.0f};
    float transmission_extra = 0.0f;
    float coat_color[3] = {1.0f, 1.0f, 1.0f};
    int32_t thin_walled = 0;
    float alpha = 1.0f;
    int32_t alpha_mode = 0;
    float alpha_cutoff = 0.5f;
    int32_t emission_tex = -1;
};
static_assert(sizeof(Material) == 47 * 4, "Material is 47 four-byte fields");

struct MeshData {
    std::vector<float> positions;       // 3 per vertex, object space
    std::vector<uint32_t> indices;      // 3 per triangle, counter-clockwise
    std::vector<float> face_normals;    // 3 per triangle (compute_face_normals)
    std::vector<float> normals;         // 3 per vertex, or empty
    std::vector<float> uvs;             // 2 per vertex, or empty
    std::vector<float> tangents;        // 3 per vertex, or empty
    std::vector<int32_t> face_materials;  // 1 per triangle, or empty
    uint32_t material = 0;
    bool has_face_materials = false;
    bool has_normals = false;
    bool has_uvs = false;
    bool has_tangents = false;
    // Triangles already put in tracing order (order_scene_triangles).
    bool trace_ordered = false;

    size_t vertex_count() const { return positions.size() / 3; }
    size_t triangle_count() const { return indices.size() / 3; }
};

struct Instance {
    uint32_t mesh = 0;
    float transform[12] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};  // row-major 3x4
    float transform_end[12] = {};
    bool moving = false;
    int32_t material = 0;
    bool has_face_materials = false;
    std::vector<int32_t> face_materials;
};

struct TextureData {
    std::vector<uint8_t> pixels8;
    std::vector<float> pixelsf;
    int32_t width = 0;
    int32_t height = 0;
    int32_t channels = 0;
    bool is_float = false;
    bool flag1 = false;
};

struct CameraKeyframe {
    float time = 0.0f;
    float position[3] = {0.0f, 0.0f, 0.0f};
    float look_at[3] = {0.0f, 0.0f, 0.0f};
};
static_assert(sizeof(CameraKeyframe) == 28, "CameraKeyframe is 28 bytes");

struct DeObject {
    float params[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    int32_t kind = 0;
};

struct EmissiveInstance {
    uint32_t instance = 0;
    float area = 0.0f;
    std::vector<uint32_t> tri_cdf;
};

struct Scene {
    std::vector<Material> materials;
    std::vector<GpuMaterial> gpu_materials;
    std::vector<DeObject> de_objects;
    std::vector<MeshData> meshes;
    std::vector<Instance> instances;
    std::vector<EmissiveInstance> emissive_instances;
    std::vector<uint32_t> emissive_tri_cdf;
    std::vector<uint32_t> light_cdf;
    std::vector<float> light_pdf;
    int32_t envmap_texture = -1;
    float envmap_intensity = 1.0f;
    float envmap_rotation[3] = {0.0f, 0.0f, 0.0f};
    std::vector<uint32_t> env_conditional_cdf;
    std::vector<uint32_t> env_marginal_cdf;
    std::vector<float> env_row_weights;
    float env_total_weight = 0.0f;
    int32_t env_cdf_width = 0;
    int32_t env_cdf_height = 0;
    std::vector<TextureData> textures;
    std::vector<AtlasEntry> atlas_entries;
    std::vector<uint8_t> atlas_data;
    std::vector<float> srgb_lut;
    float camera_position[3] = {0.0f, 1.0f, 2.0f};
    float camera_look_at[3] = {0.0f, 0.3f, -2.0f};
    float camera_up[3] = {0.0f, 1.0f, 0.0f};
    float camera_fov = 60.0f;
    float camera_aperture = 0.0f;
    float camera_focus_distance = 4.0f;
    float anim_duration = 0.0f;
    float anim_fps = 30.0f;
    bool anim_loop = false;
    float shutter_frames = 1.0f;
    std::vector<CameraKeyframe> camera_keyframes;
    std::vector<float> scene_params;
};

// One unit normal per triangle; (0, 1, 0) for a degenerate triangle or one
// that references a vertex beyond the vertex count (nothing outside
// `positions` is read).
VITREL_EXPORT void compute_face_normals(MeshData& mesh);

// Euler angles in degrees to a row-major 3x3 rotation, Ry(b) * Rx(-a) * Rz(c).
VITREL_EXPORT void euler_to_rotation_ext(const float* degrees3, float* out9);

// Column-major 4x4 (as passed through the call interface) to the stored
// row-major 3x4: row r = m[r], m[4 + r], m[8 + r], m[12 + r].
void column_major_to_3x4(const float* m16, float* out12);
