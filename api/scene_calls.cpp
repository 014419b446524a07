// Scene assembly calls. Each builds its record completely before taking the
// lock and appending it, so a rejected call changes nothing and ids stay
// dense.
#include <cstring>
#include <mutex>

#include "api/call_guard.h"
#include "api/vitrel_api.h"
#include "api/vitrel_context.h"
#include "scene/scene_prep.h"

namespace {

template <typename T>
std::vector<T> copy_array(const T* data, size_t count) {
    return std::vector<T>(data, data + count);
}

// Runs `fn` on material `material` under the lock; out-of-range ids are
// ignored.
template <typename Fn>
void with_material(VitrelContext* ctx, int material, Fn&& fn) noexcept {
    if (!ctx || material < 0) return;
    guarded_call([&] {
        std::lock_guard<std::mutex> lock(ctx->mutex);
        if (static_cast<size_t>(material) >= ctx->scene.materials.size()) return;
        fn(ctx->scene.materials[static_cast<size_t>(material)]);
    });
}

void copy3(float* dst, const float* src) { std::memcpy(dst, src, 3 * sizeof(float)); }

constexpr int kMaxTextureChannels = 4;

// Bytes of width x height texels of `channels` components, or 0 when the
// product does not fit 64 bits or the texture could never be addressed in
// the atlas.
uint64_t texture_bytes(int width, int height, int channels, bool is_float) {
    uint64_t n = 0;
    if (__builtin_mul_overflow(static_cast<uint64_t>(width), static_cast<uint64_t>(height), &n) ||
        __builtin_mul_overflow(n, static_cast<uint64_t>(channels), &n) ||
        __builtin_mul_overflow(n, is_float ? sizeof(float) : 1u, &n) || n > kAtlasAddressLimit)
        return 0;
    return n;
}

}  // namespace

extern "C" {

int vitrel_add_texture(VitrelContext* ctx, const void* data, int width, int height, int channels,
                       int is_float, int flag1) noexcept {
    if (!ctx || !data || width < 1 || height < 1 || channels < 1 || channels > kMaxTextureChannels)
        return -1;
    const uint64_t bytes = texture_bytes(width, height, channels, is_float != 0);
    if (bytes == 0) return -1;
    return guarded_call(-1, [&] {
        TextureData tex;
        const size_t count = bytes / (is_float ? sizeof(float) : 1u);
        if (is_float)
            tex.pixelsf = copy_array(static_cast<const float*>(data), count);
        else
            tex.pixels8 = copy_array(static_cast<const uint8_t*>(data), count);
        tex.width = width;
        tex.height = height;
        tex.channels = channels;
        tex.is_float = is_float != 0;
        tex.flag1 = flag1 != 0;
        std::lock_guard<std::mutex> lock(ctx->mutex);
        ctx->scene.textures.push_back(std::move(tex));
        return static_cast<int>(ctx->scene.textures.size() - 1);
    });
}

int vitrel_add_material(VitrelContext* ctx, const float* base_color, const float* emission,
                        int albedo_tex, int roughness_tex, int metallic_tex, int normal_tex,
                        float roughness, float metallic, float spec_trans, float ior,
                        float specular, float extra_c, float extra_p0, float extra_p1,
                        float extra_p2, float extra_p3, float extra_p4, float extra_p5,
                        float extra_p6) noexcept {
    if (!ctx || !base_color || !emission) return -1;
    return guarded_call(-1, [&] {
        Material m;
        copy3(m.base_color, base_color);
        copy3(m.emission, emission);
        m.albedo_tex = albedo_tex;
        m.roughness_tex = roughness_tex;
        m.metallic_tex = metallic_tex;
        m.normal_tex = normal_tex;
        m.roughness = roughness;
        m.metallic = metallic;
        m.spec_trans = spec_trans;
        m.ior = ior;
        m.specular = specular;
        m.extra_c = extra_c;
        const float extra[7] = {extra_p0, extra_p1, extra_p2, extra_p3,
                                extra_p4, extra_p5, extra_p6};
        std::memcpy(m.extra_params, extra, sizeof(extra));
        std::lock_guard<std::mutex> lock(ctx->mutex);
        // Room for both entries first, so that the two lists never differ in
        // length after a failed allocation.
        ctx->scene.materials.reserve(ctx->scene.materials.size() + 1);
        ctx->material_exprs.reserve(ctx->scene.materials.size() + 1);
        ctx->scene.materials.push_back(m);
        if (ctx->material_exprs.size() < ctx->scene.materials.size())
            ctx->material_exprs.resize(ctx->scene.materials.size());
        return static_cast<int>(ctx->scene.materials.size() - 1);
    });
}

int vitrel_add_mesh(VitrelContext* ctx, const float* positions, int vertex_count,
                    const unsigned int* indices, int triangle_count, const float* normals,
                    const float* uvs, const float* tangents, const int* face_materials,
                    int material) noexcept {
    if (!ctx || !positions || !indices || vertex_count < 1 || triangle_count < 1) return -1;
    return guarded_call(-1, [&] {
        const size_t verts = static_cast<size_t>(vertex_count);
        const size_t tris = static_cast<size_t>(triangle_count);
        MeshData mesh;
        mesh.positions = copy_array(positions, 3 * verts);
        mesh.indices = copy_array(reinterpret_cast<const uint32_t*>(indices), 3 * tris);
        if (normals) {
            mesh.normals = copy_array(normals, 3 * verts);
            mesh.has_normals = true;
        }
        if (uvs) {
            mesh.uvs = copy_array(uvs, 2 * verts);
            mesh.has_uvs = true;
        }
        if (tangents) {
            mesh.tangents = copy_array(tangents, 3 * verts);
            mesh.has_tangents = true;
        }
        if (face_materials) {
            mesh.face_materials =
                copy_array(reinterpret_cast<const int32_t*>(face_materials), tris);
            mesh.has_face_materials = true;
        }
        mesh.material = static_cast<uint32_t>(material);
        compute_face_normals(mesh);
        std::lock_guard<std::mutex> lock(ctx->mutex);
        ctx->scene.meshes.push_back(std::move(mesh));
        return static_cast<int>(ctx->scene.meshes.size() - 1);
    });
}

int vitrel_add_instance(VitrelContext* ctx, int mesh, int material, const float* matrix) noexcept {
    if (!ctx || !matrix || mesh < 0 || material < 0) return -1;
    return guarded_call(-1, [&] {
        Instance inst;
        inst.mesh = static_cast<uint32_t>(mesh);
        inst.material = material;
        column_major_to_3x4(matrix, inst.transform);
        std::lock_guard<std::mutex> lock(ctx->mutex);
        Scene& s = ctx->scene;
        if (static_cast<size_t>(mesh) >= s.meshes.size() ||
            static_cast<size_t>(material) >= s.materials.size())
            return -1;
        const MeshData& m = s.meshes[static_cast<size_t>(mesh)];
        inst.has_face_materials = m.has_face_materials;
        if (m.has_face_materials) inst.face_materials = m.face_materials;
        s.instances.push_back(std::move(inst));
        return static_cast<int>(s.instances.size() - 1);
    });
}

void vitrel_set_camera(VitrelContext* ctx, const float* position, const float* look_at,
                       const float* up, float fov, float aperture, float focus_distance) noexcept {
    if (!ctx || !position || !look_at || !up) return;
    guarded_call([&] {
        std::lock_guard<std::mutex> lock(ctx->mutex);
        Scene& s = ctx->scene;
        copy3(s.camera_position, position);
        copy3(s.camera_look_at, look_at);
        copy3(s.camera_up, up);
        s.camera_fov = fov;
        s.camera_aperture = aperture;
        s.camera_focus_distance = focus_distance;
    });
}

int vitrel_set_envmap(VitrelContext* ctx, const float* rgb, int width, int height,
                      const float* rotation, float intensity) noexcept {
    if (!ctx || !rgb || width < 1 || height < 1) return -1;
    return guarded_call(-1, [&] {
        TextureData tex;
        tex.pixelsf = copy_array(rgb, 3 * static_cast<size_t>(width) * static_cast<size_t>(height));
        tex.width = width;
        tex.height = height;
        tex.channels = 3;
        tex.is_float = true;
        tex.flag1 = false;
        std::lock_guard<std::mutex> lock(ctx->mutex);
        Scene& s = ctx->scene;
        s.textures.push_back(std::move(tex));
        s.envmap_texture = static_cast<int32_t>(s.textures.size() - 1);
        s.envmap_intensity = intensity;
        for (int i = 0; i < 3; ++i) s.envmap_rotation[i] = rotation ? rotation[i] : 0.0f;
        return 0;
    });
}

void vitrel_set_material_subsurface(VitrelContext* ctx, int material, float weight,
                                    const float* radius, float scale) noexcept {
    with_material(ctx, material, [&](Material& m) {
        m.subsurface = weight;
        if (radius) copy3(m.subsurface_radius, radius);
        m.subsurface_scale = scale;
    });
}

void vitrel_set_material_subsurface_ext(VitrelContext* ctx, int material, float a,
                                        float b) noexcept {
    with_material(ctx, material, [&](Material& m) {
        m.subsurface_ext[0] = a;
        m.subsurface_ext[1] = b;
    });
}

void vitrel_set_material_alpha(VitrelContext* ctx, int material, int alpha_mode, float alpha,
                               float alpha_cutoff) noexcept {
    with_material(ctx, material, [&](Material& m) {
        m.alpha_mode = alpha_mode;
        m.alpha = alpha;
        m.alpha_cutoff = alpha_cutoff;
    });
}

void vitrel_set_material_emission_tex(VitrelContext* ctx, int material, int texture) noexcept {
    with_material(ctx, material, [&](Material& m) { m.emission_tex = texture; });
}

void vitrel_set_material_f82_tint(VitrelContext* ctx, int material, const float* tint) noexcept {
    if (!tint) return;
    with_material(ctx, material, [&](Material& m) { copy3(m.f82_tint, tint); });
}

void vitrel_set_material_transmission(VitrelContext* ctx, int material, const float* color,
                                      float amount) noexcept {
    if (!color) return;
    with_material(ctx, material, [&](Material& m) {
        copy3(m.transmission_color, color);
        m.transmission_extra = amount;
    });
}

void vitrel_set_material_coat_color(VitrelContext* ctx, int material, const float* color) noexcept {
    if (!color) return;
    with_material(ctx, material, [&](Material& m) { copy3(m.coat_color, color); });
}

void vitrel_set_material_thin_walled(VitrelContext* ctx, int material, int flag) noexcept {
    with_material(ctx, material, [&](Material& m) { m.thin_walled = flag; });
}

void vitrel_set_instance_transform(VitrelContext* ctx, int instance, const float* matrix) noexcept {
    if (!ctx || !matrix || instance < 0) return;
    guarded_call([&] {
        float t[12];
        column_major_to_3x4(matrix, t);
        std::lock_guard<std::mutex> lock(ctx->mutex);
        if (static_cast<size_t>(instance) >= ctx->scene.instances.size()) return;
        std::memcpy(ctx->scene.instances[static_cast<size_t>(instance)].transform, t, sizeof(t));
    });
}

}  // extern "C"
