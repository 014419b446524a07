#include "cli/obj_import.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <map>
#include <sstream>
#include <tuple>
#include <vector>

#include <tiny_obj_loader.h>

#include "cli/image_decode.h"
#include "cli/material_desc.h"

namespace {

constexpr float kOpaque = 1.0f;

// Blinn-Phong exponent to perceptual roughness: alpha = sqrt(2 / (Ns + 2)),
// roughness = sqrt(alpha).
float roughness_from_shininess(float ns) {
    return std::sqrt(std::sqrt(2.0f / (std::max(ns, 0.0f) + 2.0f)));
}

bool is_default_texopt(const tinyobj::texture_option_t& o) {
    return o.origin_offset[0] == 0 && o.origin_offset[1] == 0 && o.scale[0] == 1 && o.scale[1] == 1;
}

struct ObjConverter {
    VitrelContext* ctx;
    const std::string& base_dir;
    const std::string& name;
    const ObjOptions& options;
    ImportReport& report;
    std::map<std::pair<std::string, int>, int> textures;  // (file, linear) -> id

    [[noreturn]] void fail(const std::string& what) const { import_fail(name, what); }

    int texture(const std::string& file, bool linear, bool scalar, const tinyobj::texture_option_t& opt) {
        if (file.empty()) return -1;
        if (!is_default_texopt(opt)) report.unsupported_feature("texture options -o and -s");
        const auto key = std::make_pair(file, (linear ? 1 : 0) | (scalar ? 2 : 0));
        if (const auto it = textures.find(key); it != textures.end()) return it->second;
        const std::string path = base_dir.empty() || file[0] == '/' ? file : base_dir + "/" + file;
        std::vector<uint8_t> bytes;
        std::string reason = "external files are not read here";
        DecodedImage img;
        bool ok = options.allow_files && read_file_bytes(path, bytes, reason) &&
                  decode_image(bytes.data(), bytes.size(), img, reason);
        if (ok && img.pixels8.empty()) {
            ok = false;
            reason = "floating-point images are not supported as textures";
        }
        int id = -1;
        if (!ok) {
            const std::string problem = "texture file '" + path + "': " + reason;
            if (options.missing_textures_fatal) import_fail(name, problem);
            report.warn(problem + " (the material uses its colours instead)");
        } else if (scalar && img.channels > 1) {
            std::vector<uint8_t> plane(static_cast<size_t>(img.width) * img.height);
            for (size_t i = 0; i < plane.size(); ++i) plane[i] = img.pixels8[i * img.channels];
            id = vitrel_add_texture(ctx, plane.data(), img.width, img.height, 1, 0, 1);
        } else {
            id = vitrel_add_texture(ctx, img.pixels8.data(), img.width, img.height, img.channels, 0, linear);
        }
        textures[key] = id;
        return id;
    }

    int material(const tinyobj::material_t& mt) {
        MaterialDesc m;
        for (int k = 0; k < 3; ++k) {
            m.base_color[k] = mt.diffuse[k];
            m.emission[k] = mt.emission[k];
        }
        const bool pbr = mt.roughness > 0 || mt.metallic > 0 || !mt.roughness_texname.empty() ||
                         !mt.metallic_texname.empty();
        m.roughness = pbr ? mt.roughness : roughness_from_shininess(mt.shininess);
        m.metallic = mt.metallic;
        m.ior = mt.ior > 0 ? mt.ior : 1.5f;
        m.sheen = mt.sheen;
        m.coat = mt.clearcoat_thickness;
        m.coat_roughness = mt.clearcoat_roughness;
        m.anisotropy = mt.anisotropy;
        m.anisotropy_rotation = mt.anisotropy_rotation;
        // illum 4, 6, 7 and 9 are the refracting (glass) models.
        if (mt.illum == 4 || mt.illum == 6 || mt.illum == 7 || mt.illum == 9) {
            m.spec_trans = 1.0f;
            for (int k = 0; k < 3; ++k) m.transmission_color[k] = mt.transmittance[k];
            m.thin_walled = 0;
        }
        if (mt.dissolve < kOpaque) {
            m.alpha_mode = 2;
            m.alpha = std::max(0.0f, static_cast<float>(mt.dissolve));
        }
        m.albedo_tex = texture(mt.diffuse_texname, false, false, mt.diffuse_texopt);
        m.roughness_tex = texture(mt.roughness_texname, true, true, mt.roughness_texopt);
        m.metallic_tex = texture(mt.metallic_texname, true, true, mt.metallic_texopt);
        m.normal_tex = texture(mt.normal_texname, true, false, mt.normal_texopt);
        m.emission_tex = texture(mt.emissive_texname, false, false, mt.emissive_texopt);
        if (!mt.bump_texname.empty()) report.unsupported_feature("bump (height) maps; use 'norm' for normal maps");
        if (!mt.alpha_texname.empty()) report.unsupported_feature("map_d (alpha textures)");
        if (!mt.displacement_texname.empty()) report.unsupported_feature("displacement maps");
        if (!mt.specular_texname.empty() || !mt.specular_highlight_texname.empty()) {
            report.unsupported_feature("map_Ks and map_Ns");
        }
        if (!mt.sheen_texname.empty()) report.unsupported_feature("map_Ps");
        const int id = emit_material(ctx, m);
        if (id < 0) fail("material '" + mt.name + "': rejected by the library");
        return id;
    }

    void run(const tinyobj::ObjReader& reader) {
        const tinyobj::attrib_t& attrib = reader.GetAttrib();
        const size_t nv = attrib.vertices.size() / 3;
        const size_t nn = attrib.normals.size() / 3;
        const size_t nt = attrib.texcoords.size() / 2;
        std::vector<int> mats;
        for (const tinyobj::material_t& mt : reader.GetMaterials()) mats.push_back(material(mt));
        int default_material = -1;
        const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
        for (const tinyobj::shape_t& shape : reader.GetShapes()) {
            const tinyobj::mesh_t& mesh = shape.mesh;
            const std::string label = "object '" + shape.name + "'";
            std::map<std::tuple<int, int, int>, uint32_t> remap;
            std::vector<float> pos, nrm, uv;
            std::vector<uint32_t> idx;
            std::vector<int> faces;
            bool has_n = true, has_t = true;
            for (const tinyobj::index_t& i : mesh.indices) {
                has_n = has_n && i.normal_index >= 0;
                has_t = has_t && i.texcoord_index >= 0;
            }
            size_t offset = 0;
            for (size_t f = 0; f < mesh.num_face_vertices.size(); ++f) {
                const size_t count = mesh.num_face_vertices[f];
                if (offset + count > mesh.indices.size()) fail(label + ": face " + std::to_string(f) + " is truncated");
                if (count != 3) {
                    offset += count;
                    continue;  // the reader triangulates; anything else is degenerate
                }
                for (size_t k = 0; k < 3; ++k) {
                    const tinyobj::index_t& i = mesh.indices[offset + k];
                    if (i.vertex_index < 0 || static_cast<size_t>(i.vertex_index) >= nv) {
                        fail(label + ": face " + std::to_string(f) + " refers to vertex " +
                             std::to_string(i.vertex_index + 1) + ", the file has " + std::to_string(nv));
                    }
                    if (has_n && static_cast<size_t>(i.normal_index) >= nn) {
                        fail(label + ": face " + std::to_string(f) + " refers to normal " +
                             std::to_string(i.normal_index + 1) + ", the file has " + std::to_string(nn));
                    }
                    if (has_t && static_cast<size_t>(i.texcoord_index) >= nt) {
                        fail(label + ": face " + std::to_string(f) + " refers to texture coordinate " +
                             std::to_string(i.texcoord_index + 1) + ", the file has " + std::to_string(nt));
                    }
                    const auto key = std::make_tuple(i.vertex_index, has_n ? i.normal_index : -1, has_t ? i.texcoord_index : -1);
                    auto [it, fresh] = remap.emplace(key, static_cast<uint32_t>(remap.size()));
                    if (fresh) {
                        const float* p = &attrib.vertices[3 * static_cast<size_t>(i.vertex_index)];
                        pos.insert(pos.end(), p, p + 3);
                        report.extend_bounds(p);
                        if (has_n) {
                            const float* n = &attrib.normals[3 * static_cast<size_t>(i.normal_index)];
                            nrm.insert(nrm.end(), n, n + 3);
                        }
                        if (has_t) {
                            const float* t = &attrib.texcoords[2 * static_cast<size_t>(i.texcoord_index)];
                            // OBJ's v runs up the image; textures start at the top row.
                            uv.insert(uv.end(), {t[0], 1.0f - t[1]});
                        }
                    }
                    idx.push_back(it->second);
                }
                const int mid = f < mesh.material_ids.size() ? mesh.material_ids[f] : -1;
                if (mid >= 0 && static_cast<size_t>(mid) < mats.size()) {
                    faces.push_back(mats[static_cast<size_t>(mid)]);
                } else {
                    if (default_material < 0) default_material = emit_material(ctx, MaterialDesc{});
                    faces.push_back(default_material);
                }
                offset += count;
            }
            if (faces.empty()) continue;
            if (pos.size() / 3 > static_cast<size_t>(INT_MAX) || faces.size() > static_cast<size_t>(INT_MAX)) {
                fail(label + ": too large");
            }
            const int m = vitrel_add_mesh(ctx, pos.data(), static_cast<int>(pos.size() / 3), idx.data(),
                                          static_cast<int>(faces.size()), has_n ? nrm.data() : nullptr,
                                          has_t ? uv.data() : nullptr, nullptr, faces.data(), faces[0]);
            if (m < 0 || vitrel_add_instance(ctx, m, faces[0], identity) < 0) fail(label + ": rejected by the library");
        }
        if (!report.has_bounds) fail("no faces");
    }
};

void take_warnings(const std::string& text, ImportReport& report) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty()) report.warn(line);
    }
}

void finish(VitrelContext* ctx, const tinyobj::ObjReader& reader, bool ok, const std::string& base_dir,
            const std::string& name, const ObjOptions& options, ImportReport& report) {
    if (!ok || !reader.Valid()) {
        std::string err = reader.Error();
        while (!err.empty() && err.back() == '\n') err.pop_back();
        for (char& c : err) if (c == '\n') c = ';';
        import_fail(name, err.empty() ? "not a readable OBJ file" : err);
    }
    take_warnings(reader.Warning(), report);
    ObjConverter conv{ctx, base_dir, name, options, report, {}};
    try {
        conv.run(reader);
    } catch (const ImportError&) {
        throw;
    } catch (const std::exception& e) {
        import_fail(name, std::string("cannot be imported (") + e.what() + ")");
    }
}

}  // namespace

void import_obj_file(VitrelContext* ctx, const std::string& path, const ObjOptions& options,
                     ImportReport& report) {
    std::vector<uint8_t> probe;
    std::string reason;
    if (!read_file_bytes(path, probe, reason)) import_fail(path, reason);
    const size_t slash = path.find_last_of('/');
    const std::string base_dir = slash == std::string::npos ? "." : path.substr(0, slash);
    tinyobj::ObjReaderConfig config;
    config.triangulate = true;
    config.mtl_search_path = base_dir;
    tinyobj::ObjReader reader;
    const bool ok = reader.ParseFromFile(path, config);
    finish(ctx, reader, ok, base_dir, path, options, report);
}

void import_obj_text(VitrelContext* ctx, const std::string& obj_text, const std::string& mtl_text,
                     const std::string& base_dir, const std::string& name, const ObjOptions& options,
                     ImportReport& report) {
    tinyobj::ObjReaderConfig config;
    config.triangulate = true;
    tinyobj::ObjReader reader;
    const bool ok = reader.ParseFromString(obj_text, mtl_text, config);
    finish(ctx, reader, ok, base_dir, name, options, report);
}
