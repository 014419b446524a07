#include "cli/gltf_import.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include <tiny_gltf.h>

#include "cli/image_decode.h"
#include "cli/material_desc.h"

namespace {

using Mat4 = std::array<double, 16>;  // column-major, as glTF stores it

constexpr double kPi = 3.14159265358979323846;
constexpr uint32_t kGlbMagic = 0x46546C67;      // "glTF"
constexpr uint32_t kGlbChunkJson = 0x4E4F534A;  // "JSON"
constexpr uint32_t kGlbChunkBin = 0x004E4942;   // "BIN\0"
constexpr size_t kGlbHeaderBytes = 12;
constexpr size_t kGlbChunkHeaderBytes = 8;
// The glTF loader computes the binary chunk's size without subtracting its
// header, so it may read that many bytes past the end of the data it is
// given; the copy it parses is padded with zeros by this much.
constexpr size_t kGlbReadPadding = kGlbChunkHeaderBytes;
// Size of the emitter that stands in for a punctual light, as a fraction of
// the scene's bounding-box diagonal.
constexpr double kLightRadiusFraction = 0.005;
constexpr int kSlotAlbedo = 0, kSlotRoughness = 1, kSlotMetallic = 2, kSlotEmission = 4;

const std::set<std::string> kSupportedExtensions = {
    "KHR_materials_emissive_strength", "KHR_materials_transmission", "KHR_materials_ior",
    "KHR_materials_clearcoat",         "KHR_materials_sheen",        "KHR_materials_specular",
    "KHR_materials_volume",            "KHR_materials_anisotropy",   "KHR_texture_transform",
    "KHR_lights_punctual",             "KHR_mesh_quantization"};

uint32_t read_u32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

Mat4 identity() { return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}; }

Mat4 multiply(const Mat4& a, const Mat4& b) {
    Mat4 r{};
    for (int c = 0; c < 4; ++c)
        for (int row = 0; row < 4; ++row)
            for (int k = 0; k < 4; ++k) r[c * 4 + row] += a[k * 4 + row] * b[c * 4 + k];
    return r;
}

void transform_point(const Mat4& m, const double p[3], double w, double out[3]) {
    for (int row = 0; row < 3; ++row) {
        out[row] = m[row] * p[0] + m[4 + row] * p[1] + m[8 + row] * p[2] + m[12 + row] * w;
    }
}

// Everything one import needs besides the model.
struct Converter {
    VitrelContext* ctx;
    const tinygltf::Model& model;
    const std::string& name;
    const std::string& base_dir;
    const GltfOptions& options;
    ImportReport& report;
    const std::vector<std::string>& image_failures;

    Converter(VitrelContext* c, const tinygltf::Model& m, const std::string& n, const std::string& b,
              const GltfOptions& o, ImportReport& r, const std::vector<std::string>& f)
        : ctx(c), model(m), name(n), base_dir(b), options(o), report(r), image_failures(f) {}

    std::map<std::pair<int, int>, int> texture_ids;  // (image, kind) -> texture id
    std::vector<int> material_ids;
    int default_material = -1;
    std::vector<std::vector<int>> mesh_ids;  // per glTF mesh: its vitrel meshes, none without triangles
    std::set<int> emissive_materials;
    std::map<int, Mat4> camera_placement;
    std::vector<std::pair<int, Mat4>> light_placement;

    [[noreturn]] void fail(const std::string& what) const { import_fail(name, what); }

    // ---- accessors -----------------------------------------------------

    struct View {
        const uint8_t* data = nullptr;
        size_t stride = 0;
        size_t count = 0;
        int component_type = 0;
        int components = 0;
        bool normalized = false;
    };

    View view(int index, const std::string& what) const {
        if (index < 0 || static_cast<size_t>(index) >= model.accessors.size()) {
            fail(what + ": accessor " + std::to_string(index) + " does not exist");
        }
        const tinygltf::Accessor& a = model.accessors[static_cast<size_t>(index)];
        const std::string where = what + " (accessor " + std::to_string(index) + ")";
        if (a.sparse.isSparse) fail(where + ": sparse accessors are not supported");
        const int comp_size = tinygltf::GetComponentSizeInBytes(static_cast<uint32_t>(a.componentType));
        const int comps = tinygltf::GetNumComponentsInType(static_cast<uint32_t>(a.type));
        if (comp_size <= 0 || comps <= 0) fail(where + ": invalid component type or element type");
        if (a.bufferView < 0 || static_cast<size_t>(a.bufferView) >= model.bufferViews.size()) {
            fail(where + ": buffer view " + std::to_string(a.bufferView) + " does not exist");
        }
        const tinygltf::BufferView& bv = model.bufferViews[static_cast<size_t>(a.bufferView)];
        if (bv.buffer < 0 || static_cast<size_t>(bv.buffer) >= model.buffers.size()) {
            fail(where + ": buffer " + std::to_string(bv.buffer) + " does not exist");
        }
        const std::vector<unsigned char>& buf = model.buffers[static_cast<size_t>(bv.buffer)].data;
        if (bv.byteOffset > buf.size() || bv.byteLength > buf.size() - bv.byteOffset) {
            fail(where + ": buffer view " + std::to_string(a.bufferView) + " lies outside its buffer");
        }
        const size_t elem = static_cast<size_t>(comp_size) * static_cast<size_t>(comps);
        const size_t stride = bv.byteStride ? bv.byteStride : elem;
        if (stride < elem) fail(where + ": byte stride smaller than an element");
        if (a.count < 1) fail(where + ": no elements");
        // count <= byteLength keeps the products below in 64 bits.
        if (a.count > bv.byteLength || a.byteOffset > bv.byteLength ||
            stride * (a.count - 1) + elem > bv.byteLength - a.byteOffset) {
            fail(where + ": " + std::to_string(a.count) + " elements do not fit in buffer view " +
                 std::to_string(a.bufferView) + " (" + std::to_string(bv.byteLength) + " bytes)");
        }
        View v;
        v.data = buf.data() + bv.byteOffset + a.byteOffset;
        v.stride = stride;
        v.count = a.count;
        v.component_type = a.componentType;
        v.components = comps;
        v.normalized = a.normalized;
        return v;
    }

    static double component(const uint8_t* p, int type, bool normalized) {
        switch (type) {
        case TINYGLTF_COMPONENT_TYPE_FLOAT: {
            float f;
            std::memcpy(&f, p, 4);
            return f;
        }
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE: return normalized ? p[0] / 255.0 : p[0];
        case TINYGLTF_COMPONENT_TYPE_BYTE: {
            const double v = static_cast<int8_t>(p[0]);
            return normalized ? std::max(v / 127.0, -1.0) : v;
        }
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: {
            uint16_t u;
            std::memcpy(&u, p, 2);
            return normalized ? u / 65535.0 : u;
        }
        case TINYGLTF_COMPONENT_TYPE_SHORT: {
            int16_t s;
            std::memcpy(&s, p, 2);
            return normalized ? std::max(s / 32767.0, -1.0) : s;
        }
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT: return read_u32(p);
        default: return 0.0;
        }
    }

    // Reads `want` components per element (the accessor must have at least
    // that many), as floats.
    std::vector<float> floats(int index, int want, const std::string& what) const {
        const View v = view(index, what);
        if (v.components < want) fail(what + ": expected " + std::to_string(want) + " components per element");
        const int comp_size = tinygltf::GetComponentSizeInBytes(static_cast<uint32_t>(v.component_type));
        std::vector<float> out(v.count * static_cast<size_t>(want));
        for (size_t i = 0; i < v.count; ++i) {
            const uint8_t* e = v.data + i * v.stride;
            for (int k = 0; k < want; ++k) {
                const double x = component(e + k * comp_size, v.component_type, v.normalized);
                out[i * static_cast<size_t>(want) + static_cast<size_t>(k)] =
                    std::isfinite(x) ? static_cast<float>(x) : 0.0f;
            }
        }
        return out;
    }

    std::vector<uint32_t> indices(int index, size_t vertex_count, const std::string& what) const {
        const View v = view(index, what);
        if (v.components != 1 || (v.component_type != TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE &&
                                  v.component_type != TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT &&
                                  v.component_type != TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT)) {
            fail(what + ": indices must be unsigned byte, short or int scalars");
        }
        std::vector<uint32_t> out(v.count);
        for (size_t i = 0; i < v.count; ++i) {
            const double x = component(v.data + i * v.stride, v.component_type, false);
            if (x >= static_cast<double>(vertex_count)) {
                fail(what + ": index " + std::to_string(static_cast<uint64_t>(x)) + " is out of range (" +
                     std::to_string(vertex_count) + " vertices)");
            }
            out[i] = static_cast<uint32_t>(x);
        }
        return out;
    }

    // ---- textures ------------------------------------------------------

    enum TexKind { kColor, kLinear, kRoughness, kMetallic };

    // The vitrel texture for glTF texture `index` used as `kind`: colour
    // maps stay sRGB, normal maps are linear, and the metallic-roughness map
    // is split into its green (roughness) and blue (metallic) channels,
    // since scalar reads take the first channel.
    int texture(int index, TexKind kind, int tex_coord, const std::string& use) {
        if (index < 0 || static_cast<size_t>(index) >= model.textures.size()) {
            fail(use + ": texture " + std::to_string(index) + " does not exist");
        }
        if (tex_coord != 0) report.unsupported_feature("TEXCOORD_1 and higher (" + use + ")");
        const tinygltf::Texture& t = model.textures[static_cast<size_t>(index)];
        for (const auto& ext : t.extensions) report.unsupported_feature("texture extension " + ext.first);
        if (t.sampler >= 0 && static_cast<size_t>(t.sampler) < model.samplers.size()) {
            const tinygltf::Sampler& s = model.samplers[static_cast<size_t>(t.sampler)];
            if (s.wrapS != TINYGLTF_TEXTURE_WRAP_REPEAT || s.wrapT != TINYGLTF_TEXTURE_WRAP_REPEAT) {
                report.unsupported_feature("clamped or mirrored texture wrapping (textures repeat)");
            }
        }
        if (t.source < 0 || static_cast<size_t>(t.source) >= model.images.size()) {
            fail(use + ": texture " + std::to_string(index) + " has no image");
        }
        const auto key = std::make_pair(t.source, static_cast<int>(kind));
        if (const auto it = texture_ids.find(key); it != texture_ids.end()) return it->second;
        const int id = make_texture(static_cast<size_t>(t.source), kind);
        texture_ids[key] = id;
        return id;
    }

    std::string image_problem(size_t image_index) const {
        const tinygltf::Image& img = model.images[image_index];
        const std::string label = img.uri.empty() || img.uri.rfind("data:", 0) == 0
                                      ? "image " + std::to_string(image_index)
                                      : "texture file '" + img.uri + "'";
        if (image_index < image_failures.size() && !image_failures[image_index].empty()) {
            return label + ": " + image_failures[image_index];
        }
        if (!img.uri.empty() && img.uri.rfind("data:", 0) != 0) {
            if (!options.allow_files) return label + ": external files are not read here";
            struct stat st;
            const std::string path = base_dir.empty() ? img.uri : base_dir + "/" + img.uri;
            if (stat(path.c_str(), &st) != 0) return label + ": " + std::strerror(errno);
            return label + ": cannot be read";
        }
        return label + ": no image data";
    }

    int make_texture(size_t image_index, TexKind kind) {
        const tinygltf::Image& img = model.images[image_index];
        const int comps = img.component;
        const size_t texels = static_cast<size_t>(std::max(img.width, 0)) * static_cast<size_t>(std::max(img.height, 0));
        if (img.image.empty() || img.bits != 8 || comps < 1 || comps > 4 ||
            img.image.size() != texels * static_cast<size_t>(comps)) {
            const std::string problem = image_problem(image_index);
            if (options.missing_textures_fatal) fail(problem);
            report.warn(problem + " (the material uses its factors instead)");
            return -1;
        }
        if (kind == kColor || kind == kLinear) {
            return vitrel_add_texture(ctx, img.image.data(), img.width, img.height, comps, 0, kind == kLinear);
        }
        // glTF: roughness in green, metallic in blue.
        const int channel = std::min(kind == kRoughness ? 1 : 2, comps - 1);
        std::vector<uint8_t> plane(texels);
        for (size_t i = 0; i < texels; ++i) plane[i] = img.image[i * static_cast<size_t>(comps) + static_cast<size_t>(channel)];
        return vitrel_add_texture(ctx, plane.data(), img.width, img.height, 1, 0, 1);
    }

    // ---- materials -----------------------------------------------------

    struct UvTransform {
        bool present = false;
        float scale[2] = {1.0f, 1.0f};
        float offset[2] = {0.0f, 0.0f};
        float rotation = 0.0f;
    };

    UvTransform uv_transform(const tinygltf::ExtensionMap& ext, int& tex_coord) const {
        UvTransform t;
        const auto it = ext.find("KHR_texture_transform");
        if (it == ext.end() || !it->second.IsObject()) return t;
        const tinygltf::Value& v = it->second;
        t.present = true;
        auto pair = [&](const char* key, float out[2]) {
            const tinygltf::Value& a = v.Get(key);
            if (!a.IsArray() || a.ArrayLen() != 2) return;
            for (int k = 0; k < 2; ++k) {
                if (a.Get(k).IsNumber()) out[k] = static_cast<float>(a.Get(k).GetNumberAsDouble());
            }
        };
        pair("scale", t.scale);
        pair("offset", t.offset);
        if (v.Get("rotation").IsNumber()) t.rotation = static_cast<float>(v.Get("rotation").GetNumberAsDouble());
        if (v.Get("texCoord").IsNumber()) tex_coord = static_cast<int>(v.Get("texCoord").GetNumberAsDouble());
        return t;
    }

    static double number(const tinygltf::Value& obj, const char* key, double fallback) {
        const tinygltf::Value& v = obj.Get(key);
        return v.IsNumber() ? v.GetNumberAsDouble() : fallback;
    }

    static void color3(const tinygltf::Value& obj, const char* key, float out[3]) {
        const tinygltf::Value& v = obj.Get(key);
        if (!v.IsArray() || v.ArrayLen() < 3) return;
        for (int k = 0; k < 3; ++k) {
            if (v.Get(k).IsNumber()) out[k] = static_cast<float>(v.Get(k).GetNumberAsDouble());
        }
    }

    // Textures named inside an extension that are not mapped.
    void note_extension_textures(const tinygltf::Value& ext, const std::string& ext_name) {
        for (const std::string& key : ext.Keys()) {
            if (key.size() > 7 && key.compare(key.size() - 7, 7, "Texture") == 0) {
                report.unsupported_feature(ext_name + "." + key);
            }
        }
    }

    int convert_material(const tinygltf::Material& gm) {
        MaterialDesc m;
        const auto& pbr = gm.pbrMetallicRoughness;
        float base_alpha = 1.0f;
        if (pbr.baseColorFactor.size() == 4) {
            for (int k = 0; k < 3; ++k) m.base_color[k] = static_cast<float>(pbr.baseColorFactor[k]);
            base_alpha = static_cast<float>(pbr.baseColorFactor[3]);
        }
        m.metallic = static_cast<float>(pbr.metallicFactor);
        m.roughness = static_cast<float>(pbr.roughnessFactor);
        if (gm.emissiveFactor.size() == 3) {
            for (int k = 0; k < 3; ++k) m.emission[k] = static_cast<float>(gm.emissiveFactor[k]);
        }
        const std::string label = "material '" + gm.name + "'";

        // Textures; a texture transform or a factor other than 1 needs an
        // expression graph, the plain case the library's default graphs.
        int base_coord = pbr.baseColorTexture.texCoord;
        const UvTransform base_xf = uv_transform(pbr.baseColorTexture.extensions, base_coord);
        if (pbr.baseColorTexture.index >= 0) {
            m.albedo_tex = texture(pbr.baseColorTexture.index, kColor, base_coord, label + " base colour");
        }
        int mr_coord = pbr.metallicRoughnessTexture.texCoord;
        const UvTransform mr_xf = uv_transform(pbr.metallicRoughnessTexture.extensions, mr_coord);
        if (pbr.metallicRoughnessTexture.index >= 0) {
            m.roughness_tex = texture(pbr.metallicRoughnessTexture.index, kRoughness, mr_coord, label + " metallic-roughness");
            m.metallic_tex = texture(pbr.metallicRoughnessTexture.index, kMetallic, mr_coord, label + " metallic-roughness");
        }
        if (gm.normalTexture.index >= 0) {
            int coord = gm.normalTexture.texCoord;
            if (uv_transform(gm.normalTexture.extensions, coord).present) {
                report.unsupported_feature("KHR_texture_transform on normal textures");
            }
            if (gm.normalTexture.scale != 1.0) report.unsupported_feature("normalTexture.scale other than 1");
            m.normal_tex = texture(gm.normalTexture.index, kLinear, coord, label + " normal");
        }
        if (gm.occlusionTexture.index >= 0) {
            report.unsupported_feature("occlusionTexture (the path tracer computes occlusion)");
        }
        int emissive_coord = gm.emissiveTexture.texCoord;
        const UvTransform emissive_xf = uv_transform(gm.emissiveTexture.extensions, emissive_coord);
        if (gm.emissiveTexture.index >= 0) {
            m.emission_tex = texture(gm.emissiveTexture.index, kColor, emissive_coord, label + " emissive");
        }

        // Coverage.
        m.alpha = base_alpha;
        if (gm.alphaMode == "MASK") m.alpha_mode = 1;
        else if (gm.alphaMode == "BLEND") m.alpha_mode = 2;
        m.alpha_cutoff = static_cast<float>(gm.alphaCutoff);
        if (m.alpha_mode != 0 && m.albedo_tex >= 0) {
            report.unsupported_feature("alpha from base colour textures (the factor's alpha is used)");
        }

        // Extensions.
        bool has_transmission = false, has_volume = false;
        for (const auto& [ext_name, ext] : gm.extensions) {
            if (ext_name == "KHR_materials_emissive_strength") {
                const float s = static_cast<float>(number(ext, "emissiveStrength", 1.0));
                for (float& e : m.emission) e *= s;
            } else if (ext_name == "KHR_materials_transmission") {
                m.spec_trans = static_cast<float>(number(ext, "transmissionFactor", 0.0));
                has_transmission = true;
            } else if (ext_name == "KHR_materials_ior") {
                m.ior = static_cast<float>(number(ext, "ior", 1.5));
            } else if (ext_name == "KHR_materials_clearcoat") {
                m.coat = static_cast<float>(number(ext, "clearcoatFactor", 0.0));
                m.coat_roughness = static_cast<float>(number(ext, "clearcoatRoughnessFactor", 0.0));
            } else if (ext_name == "KHR_materials_sheen") {
                float sheen_color[3] = {0.0f, 0.0f, 0.0f};
                color3(ext, "sheenColorFactor", sheen_color);
                m.sheen = std::max({sheen_color[0], sheen_color[1], sheen_color[2]});
                if (sheen_color[0] != sheen_color[1] || sheen_color[1] != sheen_color[2]) {
                    report.unsupported_feature("coloured sheen (sheen is white, of the brightest channel's weight)");
                }
                m.sheen_roughness = static_cast<float>(number(ext, "sheenRoughnessFactor", 0.0));
            } else if (ext_name == "KHR_materials_specular") {
                m.specular = 0.5f * static_cast<float>(number(ext, "specularFactor", 1.0));
                float spec_color[3] = {1.0f, 1.0f, 1.0f};
                color3(ext, "specularColorFactor", spec_color);
                if (spec_color[0] != 1.0f || spec_color[1] != 1.0f || spec_color[2] != 1.0f) {
                    report.unsupported_feature("KHR_materials_specular.specularColorFactor");
                }
            } else if (ext_name == "KHR_materials_volume") {
                has_volume = number(ext, "thicknessFactor", 0.0) > 0.0;
                m.absorption_distance = static_cast<float>(number(ext, "attenuationDistance", 0.0));
                color3(ext, "attenuationColor", m.transmission_color);
            } else if (ext_name == "KHR_materials_anisotropy") {
                m.anisotropy = static_cast<float>(number(ext, "anisotropyStrength", 0.0));
                m.anisotropy_rotation = static_cast<float>(number(ext, "anisotropyRotation", 0.0) / (2.0 * kPi));
            } else {
                report.unsupported_feature("material extension " + ext_name);
                continue;
            }
            note_extension_textures(ext, ext_name);
        }
        // Without a volume, transmission goes through an infinitely thin sheet.
        m.thin_walled = has_transmission && !has_volume ? 1 : 0;

        const int id = emit_material(ctx, m);
        if (id < 0) fail(label + ": rejected by the library");
        add_graphs(id, m, pbr, base_xf, mr_xf, emissive_xf);
        if (m.emission[0] > 0.0f || m.emission[1] > 0.0f || m.emission[2] > 0.0f) emissive_materials.insert(id);
        return id;
    }

    int sample_rgb(int mat, int tex, const UvTransform& xf) {
        return xf.present ? vitrel_expr_tex_rgb_xform(ctx, mat, tex, xf.scale[0], xf.scale[1], xf.offset[0],
                                                      xf.offset[1], xf.rotation)
                          : vitrel_expr_tex_rgb(ctx, mat, tex);
    }
    int sample_scalar(int mat, int tex, const UvTransform& xf) {
        return xf.present ? vitrel_expr_tex_scalar_xform(ctx, mat, tex, xf.scale[0], xf.scale[1], xf.offset[0],
                                                         xf.offset[1], xf.rotation)
                          : vitrel_expr_tex_scalar(ctx, mat, tex);
    }

    // glTF multiplies textures by their factors and may transform their
    // UVs; the default graphs use a texture as it is, so those cases get
    // graphs of their own. Every node is built before any root is set
    // because slots other than albedo copy the pool when set.
    void add_graphs(int id, const MaterialDesc& m, const tinygltf::PbrMetallicRoughness& pbr,
                    const UvTransform& base_xf, const UvTransform& mr_xf, const UvTransform& emissive_xf) {
        int roots[5] = {-1, -1, -1, -1, -1};
        const bool white = m.base_color[0] == 1.0f && m.base_color[1] == 1.0f && m.base_color[2] == 1.0f;
        if (m.albedo_tex >= 0 && (!white || base_xf.present)) {
            const int s = sample_rgb(id, m.albedo_tex, base_xf);
            const int c = vitrel_expr_const_vec3(ctx, id, m.base_color[0], m.base_color[1], m.base_color[2]);
            roots[kSlotAlbedo] = vitrel_expr_if_uv(ctx, id, vitrel_expr_mul(ctx, id, s, c), c);
        }
        if (m.roughness_tex >= 0 && (pbr.roughnessFactor != 1.0 || mr_xf.present)) {
            const int s = sample_scalar(id, m.roughness_tex, mr_xf);
            const int c = vitrel_expr_const_float(ctx, id, m.roughness);
            roots[kSlotRoughness] = vitrel_expr_if_uv(ctx, id, vitrel_expr_mul(ctx, id, s, c), c);
        }
        if (m.metallic_tex >= 0 && (pbr.metallicFactor != 1.0 || mr_xf.present)) {
            const int s = sample_scalar(id, m.metallic_tex, mr_xf);
            const int c = vitrel_expr_const_float(ctx, id, m.metallic);
            roots[kSlotMetallic] = vitrel_expr_if_uv(ctx, id, vitrel_expr_mul(ctx, id, s, c), c);
        }
        if (m.emission_tex >= 0 && emissive_xf.present) {
            const int s = sample_rgb(id, m.emission_tex, emissive_xf);
            const int c = vitrel_expr_const_vec3(ctx, id, m.emission[0], m.emission[1], m.emission[2]);
            roots[kSlotEmission] = vitrel_expr_if_uv(ctx, id, vitrel_expr_mul(ctx, id, c, s), c);
        }
        for (int slot = 0; slot < 5; ++slot) {
            if (roots[slot] < 0) continue;
            vitrel_mat_set_expr(ctx, id, slot, roots[slot]);
            report.uses_expression_graphs = true;
        }
    }

    int material_for(int index) {
        if (index >= 0 && static_cast<size_t>(index) < material_ids.size()) return material_ids[static_cast<size_t>(index)];
        if (index >= 0) fail("material " + std::to_string(index) + " does not exist");
        if (default_material < 0) {
            default_material = emit_material(ctx, MaterialDesc{});
        }
        return default_material;
    }

    // ---- meshes --------------------------------------------------------

    static void triangulate(int mode, const std::vector<uint32_t>& in, std::vector<uint32_t>& out) {
        if (mode == TINYGLTF_MODE_TRIANGLES) {
            out.insert(out.end(), in.begin(), in.begin() + static_cast<long>(in.size() / 3 * 3));
        } else if (mode == TINYGLTF_MODE_TRIANGLE_STRIP) {
            for (size_t i = 2; i < in.size(); ++i) {
                const bool odd = (i % 2) == 1;
                out.insert(out.end(), {in[i - 2], odd ? in[i] : in[i - 1], odd ? in[i - 1] : in[i]});
            }
        } else {  // fan
            for (size_t i = 2; i < in.size(); ++i) out.insert(out.end(), {in[0], in[i - 1], in[i]});
        }
    }

    // The primitives of one glTF mesh, merged into one vitrel mesh with
    // per-triangle materials.
    struct MeshGroup {
        std::vector<float> pos, nrm, uv, tan;
        std::vector<uint32_t> idx;
        std::vector<int> faces;
        bool all_normals = true, all_tangents = true, any_uv = false;
    };

    // Lights are found per instance by the instance's material, so an
    // emissive primitive gets a mesh (and later an instance) of its own;
    // merged into a mixed mesh it would glow but never be sampled as a light.
    std::vector<int> convert_mesh(size_t mesh_index) {
        const tinygltf::Mesh& gmesh = model.meshes[mesh_index];
        const std::string label = "mesh " + std::to_string(mesh_index) + (gmesh.name.empty() ? "" : " '" + gmesh.name + "'");
        std::map<int, MeshGroup> groups;  // key: the emissive material, or -1 for everything else
        size_t total_vertices = 0;
        for (size_t p = 0; p < gmesh.primitives.size(); ++p) {
            const tinygltf::Primitive& prim = gmesh.primitives[p];
            const std::string where = label + " primitive " + std::to_string(p);
            if (prim.mode != TINYGLTF_MODE_TRIANGLES && prim.mode != TINYGLTF_MODE_TRIANGLE_STRIP &&
                prim.mode != TINYGLTF_MODE_TRIANGLE_FAN) {
                report.unsupported_feature("points and lines");
                continue;
            }
            if (!prim.targets.empty()) report.unsupported_feature("morph targets");
            for (const auto& attr : prim.attributes) {
                const std::string& a = attr.first;
                if (a == "POSITION" || a == "NORMAL" || a == "TEXCOORD_0" || a == "TANGENT") continue;
                if (a.rfind("COLOR_", 0) == 0) report.unsupported_feature("vertex colours");
                else if (a.rfind("JOINTS_", 0) == 0 || a.rfind("WEIGHTS_", 0) == 0) report.unsupported_feature("skinning");
                else if (a.rfind("TEXCOORD_", 0) == 0) continue;  // reported where a texture uses it
                else report.unsupported_feature("vertex attribute " + a);
            }
            const auto pos_it = prim.attributes.find("POSITION");
            if (pos_it == prim.attributes.end()) fail(where + ": no POSITION attribute");
            const std::vector<float> p3 = floats(pos_it->second, 3, where + " POSITION");
            const size_t vcount = p3.size() / 3;
            total_vertices += vcount;
            if (total_vertices > static_cast<size_t>(INT_MAX)) fail(where + ": too many vertices");
            auto attribute = [&](const char* key, int comps, int want) -> std::vector<float> {
                const auto it = prim.attributes.find(key);
                if (it == prim.attributes.end()) return {};
                std::vector<float> raw = floats(it->second, comps, where + " " + key);
                if (raw.size() / static_cast<size_t>(comps) != vcount) fail(where + ": " + key + " count differs from POSITION");
                if (comps == want) return raw;
                std::vector<float> out(vcount * static_cast<size_t>(want));
                for (size_t i = 0; i < vcount; ++i)
                    for (int k = 0; k < want; ++k) out[i * want + k] = raw[i * comps + k];
                return out;
            };
            const std::vector<float> n3 = attribute("NORMAL", 3, 3);
            const std::vector<float> t2 = attribute("TEXCOORD_0", 2, 2);
            const std::vector<float> tg3 = attribute("TANGENT", 4, 3);
            std::vector<uint32_t> local;
            if (prim.indices >= 0) {
                local = indices(prim.indices, vcount, where + " indices");
            } else {
                local.resize(vcount);
                for (size_t i = 0; i < vcount; ++i) local[i] = static_cast<uint32_t>(i);
            }
            std::vector<uint32_t> tris;
            triangulate(prim.mode, local, tris);
            if (tris.empty()) continue;
            const int mat = material_for(prim.material);
            MeshGroup& g = groups[emissive_materials.count(mat) ? mat : -1];
            const uint32_t base = static_cast<uint32_t>(g.pos.size() / 3);
            for (uint32_t& i : tris) i += base;
            g.faces.insert(g.faces.end(), tris.size() / 3, mat);
            g.idx.insert(g.idx.end(), tris.begin(), tris.end());
            g.pos.insert(g.pos.end(), p3.begin(), p3.end());
            g.all_normals = g.all_normals && !n3.empty();
            g.all_tangents = g.all_tangents && !tg3.empty();
            g.any_uv = g.any_uv || !t2.empty();
            g.nrm.insert(g.nrm.end(), n3.begin(), n3.end());
            g.tan.insert(g.tan.end(), tg3.begin(), tg3.end());
            if (t2.empty()) g.uv.insert(g.uv.end(), vcount * 2, 0.0f);
            else g.uv.insert(g.uv.end(), t2.begin(), t2.end());
        }
        std::vector<int> ids;
        for (const auto& [key, g] : groups) {
            if (g.idx.size() / 3 > static_cast<size_t>(INT_MAX)) fail(label + ": too many triangles");
            // Merged primitives share one attribute layout: normals and
            // tangents only when every primitive has them.
            const int id = vitrel_add_mesh(ctx, g.pos.data(), static_cast<int>(g.pos.size() / 3), g.idx.data(),
                                           static_cast<int>(g.idx.size() / 3), g.all_normals ? g.nrm.data() : nullptr,
                                           g.any_uv ? g.uv.data() : nullptr,
                                           g.all_normals && g.all_tangents ? g.tan.data() : nullptr, g.faces.data(),
                                           g.faces[0]);
            if (id < 0) fail(label + ": rejected by the library");
            record_mesh_bounds(id, g.pos, g.faces[0]);
            ids.push_back(id);
        }
        return ids;
    }

    // ---- nodes ---------------------------------------------------------

    Mat4 local_matrix(const tinygltf::Node& n, const std::string& where) const {
        if (!n.matrix.empty()) {
            if (n.matrix.size() != 16) fail(where + ": matrix must have 16 numbers");
            Mat4 m;
            std::copy(n.matrix.begin(), n.matrix.end(), m.begin());
            return m;
        }
        if ((!n.translation.empty() && n.translation.size() != 3) || (!n.rotation.empty() && n.rotation.size() != 4) ||
            (!n.scale.empty() && n.scale.size() != 3)) {
            fail(where + ": translation, rotation or scale has the wrong length");
        }
        Mat4 t = identity(), r = identity(), s = identity();
        if (!n.translation.empty()) std::copy(n.translation.begin(), n.translation.end(), t.begin() + 12);
        if (!n.scale.empty()) {
            s[0] = n.scale[0];
            s[5] = n.scale[1];
            s[10] = n.scale[2];
        }
        if (!n.rotation.empty()) {
            const double x = n.rotation[0], y = n.rotation[1], z = n.rotation[2], w = n.rotation[3];
            r = {1 - 2 * (y * y + z * z), 2 * (x * y + z * w),     2 * (x * z - y * w),     0,
                 2 * (x * y - z * w),     1 - 2 * (x * x + z * z), 2 * (y * z + x * w),     0,
                 2 * (x * z + y * w),     2 * (y * z - x * w),     1 - 2 * (x * x + y * y), 0,
                 0,                       0,                       0,                       1};
        }
        return multiply(t, multiply(r, s));
    }

    void visit(int node_index, const Mat4& parent, std::vector<bool>& seen) {
        if (node_index < 0 || static_cast<size_t>(node_index) >= model.nodes.size()) {
            fail("node " + std::to_string(node_index) + " does not exist");
        }
        const size_t ni = static_cast<size_t>(node_index);
        if (seen[ni]) fail("node " + std::to_string(node_index) + " has two parents or is part of a cycle");
        seen[ni] = true;
        const tinygltf::Node& n = model.nodes[ni];
        const std::string where = "node " + std::to_string(node_index);
        const Mat4 world = multiply(parent, local_matrix(n, where));
        if (n.skin >= 0) report.unsupported_feature("skinning");
        if (n.mesh >= 0) {
            if (static_cast<size_t>(n.mesh) >= model.meshes.size()) fail(where + ": mesh " + std::to_string(n.mesh) + " does not exist");
            for (const int mesh : mesh_ids[static_cast<size_t>(n.mesh)]) place(mesh, world, where);
        }
        if (n.camera >= 0 && !camera_placement.count(n.camera)) camera_placement[n.camera] = world;
        const auto light = n.extensions.find("KHR_lights_punctual");
        if (light != n.extensions.end() && light->second.Get("light").IsNumber()) {
            light_placement.emplace_back(static_cast<int>(light->second.Get("light").GetNumberAsDouble()), world);
        }
        for (int child : n.children) visit(child, world, seen);
    }

    void place(int mesh, const Mat4& world, const std::string& where) {
        float m16[16];
        for (int k = 0; k < 16; ++k) {
            if (!std::isfinite(world[k])) fail(where + ": transform is not finite");
            m16[k] = static_cast<float>(world[k]);
        }
        // The instance takes the material of the mesh's first triangle; the
        // per-triangle materials come with the mesh.
        const int inst = vitrel_add_instance(ctx, mesh, first_material(mesh), m16);
        if (inst < 0) fail(where + ": instance rejected by the library");
        for (const float* corner : corners_of(mesh)) {
            const double p[3] = {corner[0], corner[1], corner[2]};
            double w[3];
            transform_point(world, p, 1.0, w);
            const float wf[3] = {static_cast<float>(w[0]), static_cast<float>(w[1]), static_cast<float>(w[2])};
            report.extend_bounds(wf);
        }
    }

    // Object-space bounds of each vitrel mesh, as its 8 corners.
    std::map<int, std::vector<std::array<float, 3>>> mesh_corners;
    std::map<int, int> mesh_first_material;

    int first_material(int mesh) const { return mesh_first_material.at(mesh); }
    std::vector<const float*> corners_of(int mesh) const {
        std::vector<const float*> out;
        for (const auto& c : mesh_corners.at(mesh)) out.push_back(c.data());
        return out;
    }

    void record_mesh_bounds(int mesh, const std::vector<float>& pos, int material) {
        float lo[3] = {pos[0], pos[1], pos[2]}, hi[3] = {pos[0], pos[1], pos[2]};
        for (size_t i = 0; i < pos.size(); i += 3)
            for (int k = 0; k < 3; ++k) {
                lo[k] = std::min(lo[k], pos[i + k]);
                hi[k] = std::max(hi[k], pos[i + k]);
            }
        std::vector<std::array<float, 3>> corners;
        for (int c = 0; c < 8; ++c) corners.push_back({(c & 1) ? hi[0] : lo[0], (c & 2) ? hi[1] : lo[1], (c & 4) ? hi[2] : lo[2]});
        mesh_corners[mesh] = corners;
        mesh_first_material[mesh] = material;
    }

    // ---- cameras and lights --------------------------------------------

    void apply_camera() {
        const int ci = options.camera_index;
        if (ci < 0) return;
        if (static_cast<size_t>(ci) >= model.cameras.size()) {
            fail("camera index " + std::to_string(ci) + " requested, the file has " + std::to_string(model.cameras.size()) +
                 " camera(s)");
        }
        const tinygltf::Camera& cam = model.cameras[static_cast<size_t>(ci)];
        if (cam.type != "perspective") fail("camera " + std::to_string(ci) + " is " + cam.type + "; only perspective cameras are supported");
        const auto it = camera_placement.find(ci);
        if (it == camera_placement.end()) fail("camera " + std::to_string(ci) + " is not placed by any node of the scene");
        const double origin[3] = {0, 0, 0}, fwd[3] = {0, 0, -1}, upv[3] = {0, 1, 0};
        double p[3], f[3], u[3];
        transform_point(it->second, origin, 1.0, p);
        transform_point(it->second, fwd, 0.0, f);
        transform_point(it->second, upv, 0.0, u);
        CameraPose pose;
        for (int k = 0; k < 3; ++k) {
            pose.position[k] = static_cast<float>(p[k]);
            pose.look_at[k] = static_cast<float>(p[k] + f[k]);
            pose.up[k] = static_cast<float>(u[k]);
        }
        const double fov = cam.perspective.yfov * 180.0 / kPi;
        if (!(fov > 0.0 && fov < 180.0)) fail("camera " + std::to_string(ci) + ": yfov out of range");
        pose.fov = static_cast<float>(fov);
        report.set_camera(ctx, pose);
    }

    // Punctual lights become small spherical emitters of the same intensity:
    // a sphere of radius r and radiance L has intensity L * pi * r^2.
    void add_lights() {
        if (light_placement.empty()) return;
        double diag = 1.0;
        if (report.has_bounds) {
            double s = 0;
            for (int k = 0; k < 3; ++k) s += double(report.bounds_max[k] - report.bounds_min[k]) * (report.bounds_max[k] - report.bounds_min[k]);
            if (s > 0) diag = std::sqrt(s);
        }
        const double radius = diag * kLightRadiusFraction;
        int sphere = -1;
        for (const auto& [light_index, world] : light_placement) {
            if (light_index < 0 || static_cast<size_t>(light_index) >= model.lights.size()) {
                fail("light " + std::to_string(light_index) + " does not exist");
            }
            const tinygltf::Light& l = model.lights[static_cast<size_t>(light_index)];
            if (l.type == "directional") {
                report.unsupported_feature("directional lights (KHR_lights_punctual)");
                continue;
            }
            if (l.type == "spot") report.unsupported_feature("spot light cones (spot lights shine in all directions)");
            MaterialDesc m;
            m.base_color[0] = m.base_color[1] = m.base_color[2] = 0.0f;
            const double scale = l.intensity / (kPi * radius * radius);
            for (int k = 0; k < 3; ++k) m.emission[k] = static_cast<float>((l.color.size() == 3 ? l.color[k] : 1.0) * scale);
            const int mat = emit_material(ctx, m);
            if (sphere < 0) sphere = add_icosahedron(mat);
            const double origin[3] = {0, 0, 0};
            double p[3];
            transform_point(world, origin, 1.0, p);
            const float r = static_cast<float>(radius);
            const float m16[16] = {r, 0, 0, 0, 0, r, 0, 0, 0, 0, r, 0, float(p[0]), float(p[1]), float(p[2]), 1};
            vitrel_add_instance(ctx, sphere, mat, m16);
        }
    }

    int add_icosahedron(int material) {
        const float t = static_cast<float>((1.0 + std::sqrt(5.0)) / 2.0);
        const float n = std::sqrt(1.0f + t * t);
        const float a = 1.0f / n, b = t / n;
        const float v[36] = {-a, b, 0, a, b, 0, -a, -b, 0, a, -b, 0, 0, -a, b, 0, a, b,
                             0, -a, -b, 0, a, -b, b, 0, -a, b, 0, a, -b, 0, -a, -b, 0, a};
        const unsigned f[60] = {0, 11, 5, 0, 5, 1, 0, 1, 7, 0, 7, 10, 0, 10, 11, 1, 5, 9, 5, 11, 4, 11, 10, 2, 10, 7, 6, 7, 1, 8,
                                3, 9, 4, 3, 4, 2, 3, 2, 6, 3, 6, 8, 3, 8, 9, 4, 9, 5, 2, 4, 11, 6, 2, 10, 8, 6, 7, 9, 8, 1};
        return vitrel_add_mesh(ctx, v, 12, f, 20, v, nullptr, nullptr, nullptr, material);
    }

    // ---- driver --------------------------------------------------------

    void run() {
        for (const std::string& ext : model.extensionsUsed) {
            if (!kSupportedExtensions.count(ext)) report.unsupported_feature(ext);
        }
        if (!model.animations.empty()) report.unsupported_feature("animations");
        for (const tinygltf::Material& gm : model.materials) material_ids.push_back(convert_material(gm));
        mesh_ids.resize(model.meshes.size());
        for (size_t i = 0; i < model.meshes.size(); ++i) mesh_ids[i] = convert_mesh(i);
        std::vector<int> roots;
        if (!model.scenes.empty()) {
            const size_t s = model.defaultScene >= 0 && static_cast<size_t>(model.defaultScene) < model.scenes.size()
                                 ? static_cast<size_t>(model.defaultScene) : 0;
            roots = model.scenes[s].nodes;
        } else {
            std::vector<bool> child(model.nodes.size(), false);
            for (const tinygltf::Node& n : model.nodes)
                for (int c : n.children)
                    if (c >= 0 && static_cast<size_t>(c) < child.size()) child[static_cast<size_t>(c)] = true;
            for (size_t i = 0; i < model.nodes.size(); ++i)
                if (!child[i]) roots.push_back(static_cast<int>(i));
        }
        std::vector<bool> seen(model.nodes.size(), false);
        for (int r : roots) visit(r, identity(), seen);
        if (!report.has_bounds) fail("the scene has no triangles");
        apply_camera();
        add_lights();
    }
};

struct ImageLoadState {
    std::vector<std::string> failures;  // per image index; "" = fine
};

void set_image(tinygltf::Image& image, DecodedImage& decoded) {
    image.width = decoded.width;
    image.height = decoded.height;
    image.component = decoded.channels;
    image.bits = 8;
    image.pixel_type = TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE;
    image.image = std::move(decoded.pixels8);
}

// Decodes the images stored in buffer views, whose views are checked here.
void decode_buffer_view_images(tinygltf::Model& model, ImageLoadState& state) {
    state.failures.resize(std::max(state.failures.size(), model.images.size()));
    for (size_t i = 0; i < model.images.size(); ++i) {
        tinygltf::Image& image = model.images[i];
        if (image.bufferView < 0 || !image.image.empty()) continue;
        const tinygltf::BufferView& bv = model.bufferViews.at(static_cast<size_t>(image.bufferView));
        const std::vector<unsigned char>& buf = model.buffers.at(static_cast<size_t>(bv.buffer)).data;
        std::string reason = "buffer view " + std::to_string(image.bufferView) + " lies outside its buffer";
        DecodedImage decoded;
        if (bv.byteOffset <= buf.size() && bv.byteLength <= buf.size() - bv.byteOffset &&
            decode_image(buf.data() + bv.byteOffset, bv.byteLength, decoded, reason) && !decoded.pixels8.empty()) {
            set_image(image, decoded);
        } else {
            state.failures[i] = reason.empty() ? "not an 8-bit image" : reason;
        }
    }
}

bool load_image(tinygltf::Image* image, const int image_index, std::string*, std::string*, int, int,
                const unsigned char* bytes, int size, void* user) {
    auto* state = static_cast<ImageLoadState*>(user);
    // The loader hands over buffer-view images without checking the view
    // against its buffer; those are decoded after loading, once checked.
    if (image->bufferView >= 0) return true;
    DecodedImage decoded;
    std::string reason;
    if (image_index >= 0) {
        if (state->failures.size() <= static_cast<size_t>(image_index)) state->failures.resize(static_cast<size_t>(image_index) + 1);
    }
    if (size <= 0 || !decode_image(bytes, static_cast<size_t>(size), decoded, reason) || decoded.pixels8.empty()) {
        if (image_index >= 0) state->failures[static_cast<size_t>(image_index)] = reason.empty() ? "not an 8-bit image" : reason;
        return true;  // the converter reports the image where a material uses it
    }
    set_image(*image, decoded);
    return true;
}

bool no_file_exists(const std::string&, void*) { return false; }
std::string keep_path(const std::string& path, void*) { return path; }
bool refuse_read(std::vector<unsigned char>*, std::string* err, const std::string& path, void*) {
    if (err) *err += "external file '" + path + "' not read\n";
    return false;
}
bool refuse_write(std::string*, const std::string&, const std::vector<unsigned char>&, void*) { return false; }

// Checks the GLB container before the glTF loader trusts its lengths, and
// returns the BIN chunk's length (0 when there is none).
size_t check_glb(const uint8_t* data, size_t size, const std::string& name) {
    const size_t min = kGlbHeaderBytes + kGlbChunkHeaderBytes;
    if (size < min) import_fail(name, "truncated .glb: " + std::to_string(size) + " bytes, the header alone needs " + std::to_string(min));
    if (read_u32(data + 4) != 2) import_fail(name, ".glb version " + std::to_string(read_u32(data + 4)) + " is not supported (expected 2)");
    const size_t length = read_u32(data + 8);
    if (length > size) {
        import_fail(name, "truncated .glb: the header declares " + std::to_string(length) + " bytes, the file has " + std::to_string(size));
    }
    if (length < min) {
        import_fail(name, "malformed .glb: the header declares " + std::to_string(length) + " bytes, fewer than its own " +
                              std::to_string(min) + " bytes of headers");
    }
    const size_t json_len = read_u32(data + 12);
    if (read_u32(data + 16) != kGlbChunkJson) import_fail(name, "malformed .glb: the first chunk is not JSON");
    if (json_len > length - min) import_fail(name, "truncated .glb: the JSON chunk runs past the end of the file");
    const size_t bin_at = min + json_len;
    if (bin_at == length) return 0;
    if (length - bin_at < kGlbChunkHeaderBytes) import_fail(name, "truncated .glb: incomplete binary chunk header");
    const size_t bin_len = read_u32(data + bin_at);
    if (read_u32(data + bin_at + 4) != kGlbChunkBin) import_fail(name, "malformed .glb: the second chunk is not BIN");
    if (bin_len > length - bin_at - kGlbChunkHeaderBytes) import_fail(name, "truncated .glb: the binary chunk runs past the end of the file");
    return bin_len;
}

}  // namespace

namespace {

void import_gltf_checked(VitrelContext* ctx, const uint8_t* data, size_t size, const std::string& base_dir,
                         const std::string& name, const GltfOptions& options, ImportReport& report) {
    if (size > UINT_MAX) import_fail(name, "file too large");
    tinygltf::TinyGLTF loader;
    ImageLoadState images;
    loader.SetImageLoader(load_image, &images);
    if (!options.allow_files) {
        loader.SetFsCallbacks({no_file_exists, keep_path, refuse_read, refuse_write, nullptr});
    }
    tinygltf::Model model;
    std::string err, warn;
    bool ok;
    const bool binary = size >= 4 && read_u32(data) == kGlbMagic;
    size_t bin_len = 0;
    if (binary) {
        bin_len = check_glb(data, size, name);
        std::vector<uint8_t> padded(data, data + size);
        padded.resize(size + kGlbReadPadding, 0);
        ok = loader.LoadBinaryFromMemory(&model, &err, &warn, padded.data(), static_cast<unsigned>(size), base_dir);
    } else {
        ok = loader.LoadASCIIFromString(&model, &err, &warn, reinterpret_cast<const char*>(data),
                                        static_cast<unsigned>(size), base_dir);
    }
    if (!ok) {
        while (!err.empty() && (err.back() == '\n' || err.back() == ' ')) err.pop_back();
        for (char& c : err) if (c == '\n') c = ';';
        import_fail(name, err.empty() ? "not a readable glTF file" : err);
    }
    if (binary && !model.buffers.empty() && model.buffers[0].uri.empty() && model.buffers[0].data.size() > bin_len) {
        import_fail(name, "buffer 0 is longer than the .glb binary chunk");
    }
    decode_buffer_view_images(model, images);
    Converter conv{ctx, model, name, base_dir, options, report, images.failures};
    conv.run();
}

}  // namespace

void import_gltf_bytes(VitrelContext* ctx, const uint8_t* data, size_t size, const std::string& base_dir,
                       const std::string& name, const GltfOptions& options, ImportReport& report) {
    try {
        import_gltf_checked(ctx, data, size, base_dir, name, options, report);
    } catch (const ImportError&) {
        throw;
    } catch (const std::exception& e) {
        import_fail(name, std::string("cannot be imported (") + e.what() + ")");
    }
}

void import_gltf_file(VitrelContext* ctx, const std::string& path, const GltfOptions& options, ImportReport& report) {
    std::vector<uint8_t> bytes;
    std::string reason;
    if (!read_file_bytes(path, bytes, reason)) import_fail(path, reason);
    if (bytes.empty()) import_fail(path, "the file is empty");
    const size_t slash = path.find_last_of('/');
    const std::string base_dir = slash == std::string::npos ? "." : path.substr(0, slash);
    import_gltf_bytes(ctx, bytes.data(), bytes.size(), base_dir, path, options, report);
}
