#include "cli/json_scene_import.h"

#include <algorithm>
#include <map>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/material_desc.h"

namespace {

using nlohmann::json;

constexpr float kDefaultFov = 40.0f;

struct Reader {
    const std::string& file;

    [[noreturn]] void fail(const std::string& where, const std::string& what) const {
        import_fail(file, where + ": " + what);
    }
    float number(const json& v, const std::string& where) const {
        if (!v.is_number()) fail(where, "expected a number");
        return v.get<float>();
    }
    void vec3(const json& v, const std::string& where, float out[3]) const {
        if (!v.is_array() || v.size() != 3) fail(where, "expected an array of 3 numbers");
        for (int k = 0; k < 3; ++k) out[k] = number(v[k], where);
    }
    bool boolean(const json& v, const std::string& where) const {
        if (!v.is_boolean()) fail(where, "expected true or false");
        return v.get<bool>();
    }
};

// Keys that carry comments in scene files and are never read.
bool comment_key(const std::string& key) { return key == "note" || key == "name"; }

MaterialDesc lambertian() {
    MaterialDesc m;
    m.roughness = 1.0f;
    m.specular = 0.0f;  // no specular lobe: a pure diffuse reflector
    return m;
}

int alpha_mode_from(const std::string& s, const Reader& r, const std::string& where) {
    if (s == "opaque") return 0;
    if (s == "mask") return 1;
    if (s == "blend") return 2;
    r.fail(where, "expected \"opaque\", \"mask\" or \"blend\"");
}

// Applies one key of a material; false when the key is not one of the type.
bool apply_key(MaterialDesc& m, const std::string& type, const std::string& key, const json& v,
               const Reader& r, const std::string& where, ImportReport& report) {
    const bool principled = type == "principled";
    if (key == "albedo" || key == "base_color" || key == "color") {
        if (type == "dielectric") r.vec3(v, where, m.transmission_color);
        else r.vec3(v, where, m.base_color);
    } else if (type == "emitter" && key == "radiance") {
        r.vec3(v, where, m.emission);
    } else if (type == "emitter" && key == "one_sided") {
        if (!r.boolean(v, where)) report.unsupported_feature("two-sided emitters (\"one_sided\": false)");
    } else if (principled && key == "emission") {
        r.vec3(v, where, m.emission);
    } else if ((principled || type == "metal" || type == "dielectric") && key == "roughness") {
        m.roughness = r.number(v, where);
    } else if ((principled || type == "dielectric") && key == "ior") {
        m.ior = r.number(v, where);
    } else if ((principled || type == "metal") && (key == "edge_tint" || key == "f82_tint")) {
        r.vec3(v, where, m.f82_tint);
    } else if ((principled || type == "dielectric") && key == "absorption_distance") {
        m.absorption_distance = r.number(v, where);
    } else if ((principled || type == "dielectric") && key == "thin_walled") {
        m.thin_walled = r.boolean(v, where) ? 1 : 0;
    } else if (principled) {
        if (key == "metallic") m.metallic = r.number(v, where);
        else if (key == "transmission") m.spec_trans = r.number(v, where);
        else if (key == "transmission_color") r.vec3(v, where, m.transmission_color);
        else if (key == "specular") m.specular = r.number(v, where);
        else if (key == "coat") m.coat = r.number(v, where);
        else if (key == "coat_roughness") m.coat_roughness = r.number(v, where);
        else if (key == "coat_ior") m.coat_ior = r.number(v, where);
        else if (key == "coat_color") r.vec3(v, where, m.coat_color);
        else if (key == "sheen") m.sheen = r.number(v, where);
        else if (key == "sheen_roughness") m.sheen_roughness = r.number(v, where);
        else if (key == "anisotropy") m.anisotropy = r.number(v, where);
        else if (key == "anisotropy_rotation") m.anisotropy_rotation = r.number(v, where);
        else if (key == "diffuse_roughness") m.diffuse_roughness = r.number(v, where);
        else if (key == "subsurface") m.subsurface = r.number(v, where);
        else if (key == "subsurface_radius") r.vec3(v, where, m.subsurface_radius);
        else if (key == "subsurface_scale") m.subsurface_scale = r.number(v, where);
        else if (key == "subsurface_ior") m.subsurface_ior = r.number(v, where);
        else if (key == "subsurface_anisotropy") m.subsurface_anisotropy = r.number(v, where);
        else if (key == "alpha") m.alpha = r.number(v, where);
        else if (key == "alpha_cutoff") m.alpha_cutoff = r.number(v, where);
        else if (key == "alpha_mode") {
            if (!v.is_string()) r.fail(where, "expected a string");
            m.alpha_mode = alpha_mode_from(v.get<std::string>(), r, where);
        } else return false;
    } else {
        return false;
    }
    return true;
}

MaterialDesc read_material(const std::string& name, const json& def, const Reader& r,
                           ImportReport& report) {
    const std::string where = "materials." + name;
    if (!def.is_object()) r.fail(where, "expected an object");
    if (!def.contains("type") || !def["type"].is_string()) r.fail(where + ".type", "missing or not a string");
    const std::string type = def["type"].get<std::string>();
    MaterialDesc m;
    if (type == "lambertian") {
        m = lambertian();
    } else if (type == "emitter") {
        m = lambertian();
        m.base_color[0] = m.base_color[1] = m.base_color[2] = 0.0f;
    } else if (type == "metal") {
        m.metallic = 1.0f;
        m.roughness = 0.1f;
    } else if (type == "dielectric") {
        m.base_color[0] = m.base_color[1] = m.base_color[2] = 1.0f;
        m.spec_trans = 1.0f;
        m.roughness = 0.0f;
    } else if (type != "principled") {
        r.fail(where + ".type", "unknown type \"" + type +
                                    "\" (expected lambertian, emitter, metal, dielectric or principled)");
    }
    for (const auto& [key, value] : def.items()) {
        if (key == "type" || comment_key(key)) continue;
        if (!apply_key(m, type, key, value, r, where + "." + key, report)) {
            report.unsupported_feature("material key \"" + key + "\" for type " + type);
        }
    }
    return m;
}

void read_camera(VitrelContext* ctx, const json& cam, const Reader& r, ImportReport& report) {
    if (!cam.is_object()) r.fail("camera", "expected an object");
    CameraPose pose;
    pose.fov = kDefaultFov;
    if (cam.contains("position")) r.vec3(cam["position"], "camera.position", pose.position);
    if (cam.contains("look_at")) r.vec3(cam["look_at"], "camera.look_at", pose.look_at);
    if (cam.contains("up")) r.vec3(cam["up"], "camera.up", pose.up);
    if (cam.contains("vfov_deg")) pose.fov = r.number(cam["vfov_deg"], "camera.vfov_deg");
    if (cam.contains("aperture")) pose.aperture = r.number(cam["aperture"], "camera.aperture");
    if (cam.contains("focus_distance")) pose.focus_distance = r.number(cam["focus_distance"], "camera.focus_distance");
    if (cam.contains("type") && cam["type"] != "pinhole" && cam["type"] != "thin_lens") {
        report.unsupported_feature("camera type " + cam["type"].dump());
    }
    if (!(pose.fov > 0.0f && pose.fov < 180.0f)) r.fail("camera.vfov_deg", "must be between 0 and 180 degrees");
    report.set_camera(ctx, pose);
}

// The animation block, with the library loader's rules: a value of the
// wrong type falls back to its default instead of failing.
void read_animation(VitrelContext* ctx, const json& root, ImportReport& report) {
    if (!root.is_object() || !root.contains("animation") || !root["animation"].is_object()) return;
    const json& a = root["animation"];
    auto num = [](const json& obj, const char* key, float fallback, float absent) {
        if (!obj.is_object() || !obj.contains(key)) return absent;
        return obj[key].is_number() ? obj[key].get<float>() : fallback;
    };
    const float duration = num(a, "duration", 0.0f, 0.0f);
    const float fps = num(a, "fps", 30.0f, 30.0f);
    const bool loop = a.contains("loop") && a["loop"].is_boolean() && a["loop"].get<bool>();
    vitrel_clear_animation(ctx);
    vitrel_set_animation(ctx, loop ? 1 : 0, duration, fps);
    report.animation.loop = loop;
    report.animation.duration = duration;
    report.animation.fps = fps;
    if (!a.contains("keyframes") || !a["keyframes"].is_array()) return;
    auto triple = [](const json& k, const char* key, float out[3]) {
        out[0] = out[1] = out[2] = 0.0f;
        if (!k.is_object() || !k.contains(key) || !k[key].is_array()) return;
        const json& arr = k[key];
        for (size_t i = 0; i < 3 && i < arr.size(); ++i) out[i] = arr[i].is_number() ? arr[i].get<float>() : 0.0f;
    };
    for (const json& k : a["keyframes"]) {
        Keyframe key;
        triple(k, "position", key.position);
        triple(k, "look_at", key.look_at);
        key.time = num(k, "time", 0.0f, 0.0f);
        vitrel_add_keyframe(ctx, key.position, key.look_at, key.time);
        report.animation.keyframes.push_back(key);
    }
    if (!report.animation.keyframes.empty()) {
        // The first keyframe places the camera, keeping the lens of the
        // camera block.
        CameraPose pose = report.has_camera ? report.camera : CameraPose{};
        if (!report.has_camera) pose.fov = kDefaultFov;
        std::copy(report.animation.keyframes[0].position, report.animation.keyframes[0].position + 3, pose.position);
        std::copy(report.animation.keyframes[0].look_at, report.animation.keyframes[0].look_at + 3, pose.look_at);
        report.set_camera(ctx, pose);
    }
}

}  // namespace

void import_json_scene(VitrelContext* ctx, const std::string& text, const std::string& file,
                       ImportReport& report) {
    const Reader r{file};
    json root;
    try {
        root = json::parse(text);
    } catch (const json::exception& e) {
        import_fail(file, std::string("malformed JSON: ") + e.what());
    }
    if (!root.is_object()) r.fail("top level", "expected an object");
    for (const char* key : {"materials", "vertices", "triangles"}) {
        if (!root.contains(key)) r.fail(key, "missing");
    }
    const json& mats = root["materials"];
    const json& verts = root["vertices"];
    const json& tris = root["triangles"];
    if (!mats.is_object() || mats.empty()) r.fail("materials", "expected a non-empty object");
    if (!verts.is_array() || verts.empty()) r.fail("vertices", "expected a non-empty array");
    if (!tris.is_array() || tris.empty()) r.fail("triangles", "expected a non-empty array");

    std::map<std::string, int> material_ids;
    for (const auto& [name, def] : mats.items()) {
        const int id = emit_material(ctx, read_material(name, def, r, report));
        if (id < 0) r.fail("materials." + name, "rejected by the library");
        material_ids[name] = id;
    }

    std::vector<float> positions(verts.size() * 3);
    for (size_t i = 0; i < verts.size(); ++i) {
        r.vec3(verts[i], "vertices[" + std::to_string(i) + "]", &positions[3 * i]);
        report.extend_bounds(&positions[3 * i]);
    }
    std::vector<uint32_t> indices(tris.size() * 3);
    for (size_t t = 0; t < tris.size(); ++t) {
        const std::string where = "triangles[" + std::to_string(t) + "]";
        const json& tri = tris[t];
        if (!tri.is_array() || tri.size() != 3) r.fail(where, "expected 3 vertex indices");
        for (int k = 0; k < 3; ++k) {
            if (!tri[k].is_number_integer()) r.fail(where, "expected 3 vertex indices");
            const int64_t v = tri[k].get<int64_t>();
            if (v < 0 || static_cast<size_t>(v) >= verts.size()) {
                r.fail(where, "vertex index " + std::to_string(v) + " is out of range (" +
                                  std::to_string(verts.size()) + " vertices)");
            }
            indices[3 * t + k] = static_cast<uint32_t>(v);
        }
    }

    // Material per triangle: by name; without the list every triangle takes
    // the first material.
    std::vector<int> face_material(tris.size(), material_ids.begin()->second);
    if (root.contains("triangle_material")) {
        const json& tm = root["triangle_material"];
        if (!tm.is_array() || tm.size() != tris.size()) {
            r.fail("triangle_material", "expected one material name per triangle (" +
                                            std::to_string(tris.size()) + ")");
        }
        for (size_t t = 0; t < tm.size(); ++t) {
            const std::string where = "triangle_material[" + std::to_string(t) + "]";
            if (!tm[t].is_string()) r.fail(where, "expected a material name");
            const auto it = material_ids.find(tm[t].get<std::string>());
            if (it == material_ids.end()) r.fail(where, "unknown material \"" + tm[t].get<std::string>() + "\"");
            face_material[t] = it->second;
        }
    }

    // One object per group (in order of first appearance), else one object.
    std::vector<std::string> group_of(tris.size());
    std::vector<std::string> groups;
    if (root.contains("triangle_group")) {
        const json& tg = root["triangle_group"];
        if (!tg.is_array() || tg.size() != tris.size()) {
            r.fail("triangle_group", "expected one group name per triangle (" + std::to_string(tris.size()) + ")");
        }
        for (size_t t = 0; t < tg.size(); ++t) {
            if (!tg[t].is_string()) r.fail("triangle_group[" + std::to_string(t) + "]", "expected a group name");
            group_of[t] = tg[t].get<std::string>();
        }
    }
    for (const std::string& g : group_of) {
        if (std::find(groups.begin(), groups.end(), g) == groups.end()) groups.push_back(g);
    }
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    for (const std::string& g : groups) {
        // Each object keeps only the vertices its triangles use.
        std::vector<uint32_t> idx;
        std::vector<int> faces;
        std::vector<float> local;
        std::map<uint32_t, uint32_t> remap;
        for (size_t t = 0; t < tris.size(); ++t) {
            if (group_of[t] != g) continue;
            for (int k = 0; k < 3; ++k) {
                const uint32_t v = indices[3 * t + k];
                auto [it, fresh] = remap.emplace(v, static_cast<uint32_t>(remap.size()));
                if (fresh) local.insert(local.end(), &positions[3 * v], &positions[3 * v] + 3);
                idx.push_back(it->second);
            }
            faces.push_back(face_material[t]);
        }
        const int tri_count = static_cast<int>(faces.size());
        const int mesh = vitrel_add_mesh(ctx, local.data(), static_cast<int>(remap.size()), idx.data(),
                                         tri_count, nullptr, nullptr, nullptr, faces.data(), faces[0]);
        if (mesh < 0 || vitrel_add_instance(ctx, mesh, faces[0], identity) < 0) {
            r.fail("triangles", "rejected by the library");
        }
    }

    if (root.contains("camera")) read_camera(ctx, root["camera"], r, report);
    if (root.contains("background_radiance")) {
        float bg[3];
        r.vec3(root["background_radiance"], "background_radiance", bg);
        if (bg[0] > 0.0f || bg[1] > 0.0f || bg[2] > 0.0f) {
            // A uniform environment: two texels so that the sampling tables
            // have a width to work with.
            const float texels[6] = {bg[0], bg[1], bg[2], bg[0], bg[1], bg[2]};
            vitrel_set_envmap(ctx, texels, 2, 1, nullptr, 1.0f);
        }
    }
    read_animation(ctx, root, report);
}
