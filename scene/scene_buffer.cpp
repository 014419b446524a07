// build_scene_buffer: light selection tables, packed materials and the
// scene parameter block, plus the cached atlas, environment and sRGB tables.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "scene/color_constants.h"
#include "scene/guide_targets.h"
#include "scene/scene_bounds.h"
#include "scene/scene_prep.h"

namespace {

using vitrel_color::kLumB;
using vitrel_color::kLumG;
using vitrel_color::kLumR;
// An emissive instance needs a total area above this to be a light.
constexpr double kMinLightArea = 1e-8;
constexpr float kPiF = 3.1415927f;
constexpr float kHalfFovDegreesToRadians = kPiF / 360.0f;
// Vectors shorter than this have no usable direction.
constexpr float kMinBasisLength = 1e-20f;
// |cos| of the angle between the view and the y axis above which the view
// counts as running along y.
constexpr float kParallelCosine = 0.999f;

const Material* material_at(const Scene& scene, int32_t id) {
    if (id < 0 || static_cast<size_t>(id) >= scene.materials.size()) return nullptr;
    return &scene.materials[static_cast<size_t>(id)];
}

bool emits(const Material& m) { return m.emission[0] > 0.0f || m.emission[1] > 0.0f || m.emission[2] > 0.0f; }

// Step 1: one entry per instance whose material emits and whose mesh has a
// positive area; instances naming a missing mesh or material are not lights.
void build_emissive_instances(Scene& scene) {
    scene.emissive_instances.clear();
    scene.emissive_tri_cdf.clear();
    TriangleAreas work;
    for (size_t k = 0; k < scene.instances.size(); ++k) {
        const Instance& inst = scene.instances[k];
        const Material* mat = material_at(scene, inst.material);
        if (!mat || !emits(*mat) || inst.mesh >= scene.meshes.size()) continue;
        const MeshData& mesh = scene.meshes[inst.mesh];
        if (mesh.indices.size() < 3) continue;
        const double total = compute_triangle_areas(mesh, inst.transform, work);
        const std::vector<float>& areas = work.areas;
        if (!(total > kMinLightArea)) continue;
        EmissiveInstance light;
        light.instance = static_cast<uint32_t>(k);
        light.area = static_cast<float>(total);
        light.tri_cdf.resize(areas.size());
        double running = 0.0;
        for (size_t t = 0; t < areas.size(); ++t) {
            running += areas[t];
            light.tri_cdf[t] = quantize_cdf(running / total);
        }
        light.tri_cdf.back() = CDF_LAST_ENTRY;
        scene.emissive_tri_cdf.insert(scene.emissive_tri_cdf.end(), light.tri_cdf.begin(), light.tri_cdf.end());
        scene.emissive_instances.push_back(std::move(light));
    }
}

bool environment_takes_part(const Scene& scene) { return scene.envmap_texture >= 0 && scene.env_cdf_width >= 1; }

// Step 3. A light whose power comes out negative (an emission with a
// negative component) or not finite counts as power 0, so the CDF never
// decreases and no probability is negative or NaN.
void build_light_selection(Scene& scene) {
    scene.light_cdf.clear();
    scene.light_pdf.clear();
    const size_t n = scene.emissive_instances.size();
    const bool env = environment_takes_part(scene);
    std::vector<double> power(n);
    double total = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const EmissiveInstance& light = scene.emissive_instances[i];
        const float* e = scene.materials[static_cast<size_t>(scene.instances[light.instance].material)].emission;
        const double p = (kLumR * e[0] + kLumG * e[1] + kLumB * e[2]) * static_cast<double>(light.area);
        power[i] = p > 0.0 && std::isfinite(p) ? p : 0.0;
        total += power[i];
    }
    const double env_weight = scene.env_total_weight;
    const double env_power = env && env_weight > 0.0 && std::isfinite(env_weight) ? env_weight : 0.0;
    total += env_power;
    if ((n == 0 && !env) || !(total > 0.0)) return;

    const size_t count = n + (env ? 1 : 0);
    scene.light_cdf.resize(count);
    scene.light_pdf.resize(count);
    double running = 0.0;
    for (size_t i = 0; i < n; ++i) {
        running += power[i];
        scene.light_pdf[i] = static_cast<float>(power[i] / total);
        scene.light_cdf[i] = quantize_cdf(running / total);
    }
    if (env) scene.light_pdf[n] = static_cast<float>(env_power / total);
    scene.light_cdf[count - 1] = CDF_LAST_ENTRY;
}

GpuMaterial pack_material(const Material& m) {
    GpuMaterial g{};
    std::copy_n(m.base_color, 3, g.base_color);
    g.roughness = m.roughness;
    g.metallic = m.metallic;
    g.spec_trans = m.spec_trans;
    g.ior = m.ior;
    g.extra_a = m.extra_a;
    std::copy_n(m.emission, 3, g.emission);
    g.extra_b = m.extra_b;
    g.albedo_tex = m.albedo_tex;
    g.roughness_tex = m.roughness_tex;
    const float r = (m.ior - 1.0f) / (m.ior + 1.0f);
    g.dielectric_f0 = 2.0f * r * r * m.specular;
    g.extra_c = m.extra_c;
    g.metallic_tex = m.metallic_tex;
    g.normal_tex = m.normal_tex;
    std::copy_n(m.extra_params, 7, g.extra_params);
    g.subsurface = m.subsurface;
    std::copy_n(m.subsurface_radius, 3, g.subsurface_radius);
    g.subsurface_scale = m.subsurface_scale;
    g.alpha = m.alpha;
    g.alpha_mode = m.alpha_mode;
    g.alpha_cutoff = m.alpha_cutoff;
    g.emission_tex = m.emission_tex;
    std::copy_n(m.subsurface_ext, 2, g.subsurface_ext);
    std::copy_n(m.f82_tint, 3, g.f82_tint);
    std::copy_n(m.transmission_color, 3, g.transmission_color);
    g.transmission_extra = m.transmission_extra;
    std::copy_n(m.coat_color, 3, g.coat_color);
    g.thin_walled = m.thin_walled;
    return g;
}

float length3(const float* v) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

void cross3(const float* a, const float* b, float* out) {
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

// Scales v to unit length; false (v unchanged) when its length is zero or
// not finite.
bool normalize3(float* v) {
    const float len = length3(v);
    if (!(len > kMinBasisLength) || !std::isfinite(len)) return false;
    for (int i = 0; i < 3; ++i) v[i] /= len;
    return true;
}

// The camera basis: w points from the target back to the eye, u to the
// right, v up in the image. A degenerate camera still gets a sound basis:
// an eye on its target looks down -z; an up vector that is zero, not finite
// or parallel to the view falls back to +y, or to -z when the view itself
// runs along the y axis. `up_used` receives the up vector the basis was
// built from.
void camera_basis(const Scene& scene, float* w, float* u, float* v, float* up_used) {
    for (int i = 0; i < 3; ++i) w[i] = scene.camera_position[i] - scene.camera_look_at[i];
    if (!normalize3(w)) {
        w[0] = 0.0f;
        w[1] = 0.0f;
        w[2] = 1.0f;
    }
    std::copy_n(scene.camera_up, 3, up_used);
    cross3(up_used, w, u);
    if (!normalize3(u)) {
        const bool along_y = std::fabs(w[1]) > kParallelCosine;
        up_used[0] = 0.0f;
        up_used[1] = along_y ? 0.0f : 1.0f;
        up_used[2] = along_y ? -1.0f : 0.0f;
        cross3(up_used, w, u);
        normalize3(u);
    }
    cross3(w, u, v);
}

// Step 5.
void build_scene_params(Scene& scene, int width, int height, float overscan_scale) {
    const size_t d = scene.de_objects.size();
    const size_t k = scene.camera_keyframes.size();
    const bool animated = k >= 2;
    const size_t anim_at = SP_ANIM_BLOCK_AT(d);
    scene.scene_params.assign(SP_GUIDE_TARGETS_AT(d, k), 0.0f);
    float* p = scene.scene_params.data();

    const float h = overscan_scale * std::tan(scene.camera_fov * kHalfFovDegreesToRadians);
    const float aspect = static_cast<float>(width) / static_cast<float>(height);
    const float half_width = aspect * h;
    float w[3], u[3], v[3], up[3];
    camera_basis(scene, w, u, v, up);

    const bool env = scene.envmap_texture >= 0 && scene.env_cdf_width > 0;
    const size_t n = scene.emissive_instances.size();
    p[SP_EMISSIVE_COUNT] = static_cast<float>(n);
    p[SP_MATERIAL_COUNT] = static_cast<float>(scene.materials.size());
    for (int i = 0; i < 3; ++i) {
        p[SP_CAMERA_POSITION + i] = scene.camera_position[i];
        p[SP_LOWER_LEFT + i] = scene.camera_position[i] - half_width * u[i] - h * v[i] - w[i];
        p[SP_HORIZONTAL + i] = 2.0f * half_width * u[i];
        p[SP_VERTICAL + i] = 2.0f * h * v[i];
    }
    p[SP_CAMERA_APERTURE] = scene.camera_aperture;
    p[SP_FOCUS_DISTANCE] = scene.camera_focus_distance;
    p[SP_DE_COUNT] = static_cast<float>(d);
    p[SP_KEYFRAME_COUNT] = animated ? static_cast<float>(k) : 0.0f;
    p[SP_ENV_ACTIVE] = env ? 1.0f : 0.0f;
    p[SP_LIGHT_COUNT] = static_cast<float>(n + (env ? 1 : 0));
    p[SP_ENV_LIGHT_PDF] = env && !scene.light_pdf.empty() ? scene.light_pdf.back() : 0.0f;
    p[SP_SHUTTER_FRAMES] = scene.shutter_frames;
    const bool moving =
        std::any_of(scene.instances.begin(), scene.instances.end(), [](const Instance& i) { return i.moving; });
    p[SP_ANY_MOVING] = moving ? 1.0f : 0.0f;
    const BoundingSphere bounds = scene_bounding_sphere(scene);
    std::copy_n(bounds.centre, 3, p + SP_BOUNDS_CENTRE);
    p[SP_BOUNDS_RADIUS] = bounds.radius;

    for (size_t i = 0; i < d; ++i) {
        float* block = p + SCENE_PARAMS_HEADER_FLOATS + SP_DE_BLOCK_FLOATS * i;
        std::copy_n(scene.de_objects[i].params, 4, block);
        block[4] = static_cast<float>(scene.de_objects[i].kind);
    }
    if (!animated) return;
    float* anim = p + anim_at;
    anim[SP_ANIM_KEYFRAME_COUNT] = static_cast<float>(k);
    anim[SP_ANIM_DURATION] = scene.anim_duration;
    anim[SP_ANIM_LOOP] = scene.anim_loop ? 1.0f : 0.0f;
    anim[SP_ANIM_HALF_HEIGHT] = h;
    std::copy_n(up, 3, anim + SP_ANIM_CAMERA_UP);
    anim[SP_ANIM_FRAME_TIME] = 1.0f / scene.anim_fps;
    for (size_t i = 0; i < k; ++i) {
        const CameraKeyframe& key = scene.camera_keyframes[i];
        float* block = anim + SP_ANIM_HEADER_FLOATS + SP_KEYFRAME_FLOATS * i;
        block[0] = key.time;
        std::copy_n(key.position, 3, block + 1);
        std::copy_n(key.look_at, 3, block + 4);
    }
}

void build_srgb_lut(Scene& scene) {
    scene.srgb_lut.resize(vitrel_color::kSrgbCodes);
    for (int i = 0; i < vitrel_color::kSrgbCodes; ++i) {
        scene.srgb_lut[i] = vitrel_color::srgb_code_to_linear<float>(i);
    }
}

}  // namespace

void build_scene_buffer(Scene& scene, int width, int height, float overscan_scale,
                        const std::vector<bool>& graph_driven) {
    if (width < 1 || height < 1 || !(overscan_scale > 0.0f) || !std::isfinite(overscan_scale))
        throw std::invalid_argument("Scene buffer: render size " + std::to_string(width) + " x " +
                                    std::to_string(height) + " with overscan scale " +
                                    std::to_string(overscan_scale) + " is not renderable");
    build_emissive_instances(scene);
    build_envmap_cdf(scene);
    build_light_selection(scene);
    scene.gpu_materials.resize(scene.materials.size());
    std::transform(scene.materials.begin(), scene.materials.end(), scene.gpu_materials.begin(), pack_material);
    build_scene_params(scene, width, height, overscan_scale);
    write_guide_targets(scene, graph_driven);
    if (scene.atlas_data.empty() && !scene.textures.empty()) build_texture_atlas(scene);
    if (scene.srgb_lut.empty()) build_srgb_lut(scene);
    std::printf("Scene buffer: %d lights, %d DE, %zu meshes, %zu instances\n",
                static_cast<int>(scene.emissive_instances.size()), static_cast<int>(scene.de_objects.size()),
                scene.meshes.size(), scene.instances.size());
}
