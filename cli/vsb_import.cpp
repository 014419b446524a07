#include "cli/vsb_import.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cache/vsb_format.h"
#include "cli/material_desc.h"

namespace {

// Texture `i` of the cached atlas, or false when its entry does not fit.
bool atlas_texture(const Scene& s, size_t i, const uint8_t*& data, bool& is_float) {
    const AtlasEntry& e = s.atlas_entries[i];
    is_float = (e.flags & ATLAS_FLAG_FLOAT) != 0;
    const uint64_t bytes = uint64_t{e.width} * e.height * e.channels * (is_float ? 4u : 1u);
    if (e.width < 1 || e.height < 1 || e.channels < 1 || e.channels > 4 || e.offset > s.atlas_data.size() ||
        bytes > s.atlas_data.size() - e.offset) {
        return false;
    }
    data = s.atlas_data.data() + e.offset;
    return true;
}

}  // namespace

void import_vsb_file(VitrelContext* ctx, const std::string& path, ImportReport& report) {
    {
        FILE* f = std::fopen(path.c_str(), "rb");
        if (!f) import_fail(path, std::strerror(errno));
        std::fclose(f);
    }
    const Scene s = load_vsb(path.c_str());
    if (s.materials.empty() || s.meshes.empty() || s.instances.empty()) {
        import_fail(path, "not a usable scene cache (no materials, meshes or instances; see the message above)");
    }
    for (size_t i = 0; i < s.atlas_entries.size(); ++i) {
        const uint8_t* data = nullptr;
        bool is_float = false;
        if (!atlas_texture(s, i, data, is_float)) import_fail(path, "texture " + std::to_string(i) + " lies outside the cached atlas");
        const AtlasEntry& e = s.atlas_entries[i];
        vitrel_add_texture(ctx, data, static_cast<int>(e.width), static_cast<int>(e.height), static_cast<int>(e.channels),
                           is_float, (e.flags & ATLAS_FLAG_FLAG1) != 0);
    }
    for (const Material& src : s.materials) {
        MaterialDesc m;
        std::memcpy(m.base_color, src.base_color, sizeof m.base_color);
        std::memcpy(m.emission, src.emission, sizeof m.emission);
        m.albedo_tex = src.albedo_tex;
        m.roughness_tex = src.roughness_tex;
        m.metallic_tex = src.metallic_tex;
        m.normal_tex = src.normal_tex;
        m.emission_tex = src.emission_tex;
        m.roughness = src.roughness;
        m.metallic = src.metallic;
        m.spec_trans = src.spec_trans;
        m.ior = src.ior;
        m.specular = src.specular;
        m.coat = src.extra_c;
        m.coat_roughness = src.extra_params[0];
        m.coat_ior = src.extra_params[1];
        m.sheen = src.extra_params[2];
        m.sheen_roughness = src.extra_params[3];
        m.anisotropy = src.extra_params[4];
        m.anisotropy_rotation = src.extra_params[5];
        m.diffuse_roughness = src.extra_params[6];
        m.subsurface = src.subsurface;
        std::memcpy(m.subsurface_radius, src.subsurface_radius, sizeof m.subsurface_radius);
        m.subsurface_scale = src.subsurface_scale;
        m.subsurface_ior = src.subsurface_ext[0];
        m.subsurface_anisotropy = src.subsurface_ext[1];
        std::memcpy(m.f82_tint, src.f82_tint, sizeof m.f82_tint);
        std::memcpy(m.transmission_color, src.transmission_color, sizeof m.transmission_color);
        m.absorption_distance = src.transmission_extra;
        std::memcpy(m.coat_color, src.coat_color, sizeof m.coat_color);
        m.thin_walled = src.thin_walled;
        m.alpha_mode = src.alpha_mode;
        m.alpha = src.alpha;
        m.alpha_cutoff = src.alpha_cutoff;
        if (emit_material(ctx, m) < 0) import_fail(path, "a cached material was rejected");
    }
    std::vector<int> mesh_ids;
    for (size_t i = 0; i < s.meshes.size(); ++i) {
        const MeshData& m = s.meshes[i];
        if (m.vertex_count() == 0 || m.triangle_count() == 0) {
            mesh_ids.push_back(-1);
            report.warn("cached mesh " + std::to_string(i) + " is empty");
            continue;
        }
        const auto vc = m.vertex_count();
        auto sized = [vc](const std::vector<float>& v, bool has, size_t per) {
            return has && v.size() == vc * per ? v.data() : nullptr;
        };
        const bool faces = m.has_face_materials && m.face_materials.size() == m.triangle_count();
        mesh_ids.push_back(vitrel_add_mesh(ctx, m.positions.data(), static_cast<int>(vc), m.indices.data(),
                                           static_cast<int>(m.triangle_count()), sized(m.normals, m.has_normals, 3),
                                           sized(m.uvs, m.has_uvs, 2), sized(m.tangents, m.has_tangents, 3),
                                           faces ? m.face_materials.data() : nullptr, static_cast<int>(m.material)));
    }
    for (const Instance& inst : s.instances) {
        if (inst.mesh >= mesh_ids.size() || mesh_ids[inst.mesh] < 0) continue;
        float m16[16];
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 4; ++c) m16[c * 4 + r] = inst.transform[r * 4 + c];
        m16[3] = m16[7] = m16[11] = 0.0f;
        m16[15] = 1.0f;
        if (vitrel_add_instance(ctx, mesh_ids[inst.mesh], inst.material, m16) < 0) {
            report.warn("a cached instance refers to a missing mesh or material");
        }
        const MeshData& mesh = s.meshes[inst.mesh];
        for (size_t v = 0; v + 2 < mesh.positions.size(); v += 3) {
            float w[3];
            for (int r = 0; r < 3; ++r) {
                w[r] = inst.transform[r * 4 + 3];
                for (int k = 0; k < 3; ++k) w[r] += inst.transform[r * 4 + k] * mesh.positions[v + k];
            }
            report.extend_bounds(w);
        }
    }
    CameraPose pose;
    std::memcpy(pose.position, s.camera_position, sizeof pose.position);
    std::memcpy(pose.look_at, s.camera_look_at, sizeof pose.look_at);
    std::memcpy(pose.up, s.camera_up, sizeof pose.up);
    pose.fov = s.camera_fov;
    pose.aperture = s.camera_aperture;
    pose.focus_distance = s.camera_focus_distance;
    report.set_camera(ctx, pose);
    if (s.envmap_texture >= 0 && static_cast<size_t>(s.envmap_texture) < s.atlas_entries.size()) {
        const AtlasEntry& e = s.atlas_entries[static_cast<size_t>(s.envmap_texture)];
        const uint8_t* data = nullptr;
        bool is_float = false;
        if (atlas_texture(s, static_cast<size_t>(s.envmap_texture), data, is_float) && is_float && e.channels == 3) {
            vitrel_set_envmap(ctx, reinterpret_cast<const float*>(data), static_cast<int>(e.width),
                              static_cast<int>(e.height), nullptr, s.envmap_intensity);
        } else {
            report.warn("the cached environment map is not an RGB float image; left out");
        }
    }
    vitrel_clear_animation(ctx);
    vitrel_set_animation(ctx, s.anim_loop ? 1 : 0, s.anim_duration, s.anim_fps);
    report.animation.loop = s.anim_loop;
    report.animation.duration = s.anim_duration;
    report.animation.fps = s.anim_fps;
    for (const CameraKeyframe& k : s.camera_keyframes) {
        vitrel_add_keyframe(ctx, k.position, k.look_at, k.time);
        Keyframe key;
        key.time = k.time;
        std::memcpy(key.position, k.position, sizeof key.position);
        std::memcpy(key.look_at, k.look_at, sizeof key.look_at);
        report.animation.keyframes.push_back(key);
    }
}
