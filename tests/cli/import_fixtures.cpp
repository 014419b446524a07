#include "import_fixtures.h"

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "cli/png_encode.h"

std::vector<uint8_t> solid_png(int width, int height, const uint8_t rgba[4]) {
    std::vector<uint8_t> px(static_cast<size_t>(width) * height * 4);
    for (size_t i = 0; i < px.size(); ++i) px[i] = rgba[i % 4];
    int len = 0;
    unsigned char* png = png_encode(px.data(), width, height, 4, &len);
    std::vector<uint8_t> out(png, png + len);
    free(png);
    return out;
}

namespace {

template <typename T>
void append(std::vector<uint8_t>& bin, const std::vector<T>& values) {
    const auto* p = reinterpret_cast<const uint8_t*>(values.data());
    bin.insert(bin.end(), p, p + values.size() * sizeof(T));
    while (bin.size() % 4) bin.push_back(0);
}

}  // namespace

GltfDoc quad_gltf() {
    GltfDoc d;
    const std::vector<float> pos = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0};
    const std::vector<float> nrm = {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1};
    const std::vector<float> uv = {0, 1, 1, 1, 1, 0, 0, 0};
    const std::vector<uint16_t> idx = {0, 1, 2, 0, 2, 3};
    using nlohmann::json;
    json views = json::array(), accessors = json::array();
    auto view = [&](size_t offset, size_t length) {
        views.push_back({{"buffer", 0}, {"byteOffset", offset}, {"byteLength", length}});
        return views.size() - 1;
    };
    size_t at = d.bin.size();
    append(d.bin, pos);
    accessors.push_back({{"bufferView", view(at, 48)}, {"componentType", 5126}, {"count", 4}, {"type", "VEC3"},
                         {"min", {0, 0, 0}}, {"max", {1, 1, 0}}});
    at = d.bin.size();
    append(d.bin, nrm);
    accessors.push_back({{"bufferView", view(at, 48)}, {"componentType", 5126}, {"count", 4}, {"type", "VEC3"}});
    at = d.bin.size();
    append(d.bin, uv);
    accessors.push_back({{"bufferView", view(at, 32)}, {"componentType", 5126}, {"count", 4}, {"type", "VEC2"}});
    at = d.bin.size();
    append(d.bin, idx);
    accessors.push_back({{"bufferView", view(at, 12)}, {"componentType", 5123}, {"count", 6}, {"type", "SCALAR"}});
    d.json = {
        {"asset", {{"version", "2.0"}}},
        {"scene", 0},
        {"scenes", {{{"nodes", {0}}}}},
        {"nodes", {{{"mesh", 0}}}},
        {"meshes",
         {{{"name", "quad"},
           {"primitives",
            {{{"attributes", {{"POSITION", 0}, {"NORMAL", 1}, {"TEXCOORD_0", 2}}}, {"indices", 3}, {"material", 0}}}}}}},
        {"materials", {{{"name", "grey"}, {"pbrMetallicRoughness", {{"baseColorFactor", {0.5, 0.5, 0.5, 1.0}}}}}}},
        {"accessors", accessors},
        {"bufferViews", views},
        {"buffers", {{{"byteLength", d.bin.size()}}}}};
    return d;
}

int add_texture(GltfDoc& doc, const std::string& uri) {
    auto& images = doc.json["images"];
    auto& textures = doc.json["textures"];
    if (images.is_null()) images = nlohmann::json::array();
    if (textures.is_null()) textures = nlohmann::json::array();
    images.push_back({{"uri", uri}});
    textures.push_back({{"source", images.size() - 1}});
    return static_cast<int>(textures.size() - 1);
}

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64(const std::vector<uint8_t>& bytes) {
    const char* kAlphabet = kBase64Alphabet;
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t v = uint32_t{bytes[i]} << 16;
        if (i + 1 < bytes.size()) v |= uint32_t{bytes[i + 1]} << 8;
        if (i + 2 < bytes.size()) v |= bytes[i + 2];
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? kAlphabet[v & 63] : '=';
    }
    return out;
}

void save_embedded(const GltfDoc& doc, const std::string& path) {
    nlohmann::json j = doc.json;
    j["buffers"][0]["uri"] = "data:application/octet-stream;base64," + base64(doc.bin);
    write_text(path, j.dump());
}

void save_external(const GltfDoc& doc, const std::string& path, const std::string& bin_name) {
    nlohmann::json j = doc.json;
    j["buffers"][0]["uri"] = bin_name;
    write_text(path, j.dump());
    write_bytes(path.substr(0, path.find_last_of('/') + 1) + bin_name, doc.bin);
}

std::vector<uint8_t> glb_bytes(const GltfDoc& doc) {
    std::string json = doc.json.dump();
    while (json.size() % 4) json += ' ';
    std::vector<uint8_t> out;
    auto u32 = [&out](uint32_t v) {
        for (int s = 0; s < 32; s += 8) out.push_back(static_cast<uint8_t>(v >> s));
    };
    const uint32_t total = static_cast<uint32_t>(12 + 8 + json.size() + 8 + doc.bin.size());
    u32(0x46546C67);
    u32(2);
    u32(total);
    u32(static_cast<uint32_t>(json.size()));
    u32(0x4E4F534A);
    out.insert(out.end(), json.begin(), json.end());
    u32(static_cast<uint32_t>(doc.bin.size()));
    u32(0x004E4942);
    out.insert(out.end(), doc.bin.begin(), doc.bin.end());
    return out;
}

void save_glb(const GltfDoc& doc, const std::string& path) { write_bytes(path, glb_bytes(doc)); }
