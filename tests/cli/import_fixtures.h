// Scene files written by the importer tests themselves: a glTF quad with
// its buffers and images in any of the three containers, and small PNGs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "api/vitrel_context.h"
#include "cli/import_report.h"
#include "scratch_dir.h"

// A width x height PNG of one RGBA colour.
std::vector<uint8_t> solid_png(int width, int height, const uint8_t rgba[4]);

// A glTF document and its single binary buffer, not yet tied to a container.
struct GltfDoc {
    nlohmann::json json;
    std::vector<uint8_t> bin;
};

// A unit quad in the xy plane (4 vertices with normals and UVs, 2 triangles
// with 16-bit indices) in mesh 0, placed by node 0, material 0 plain grey.
GltfDoc quad_gltf();

// Adds an image (as a data URI, or as an external file name) and a texture
// using it; returns the texture index.
int add_texture(GltfDoc& doc, const std::string& uri);

// The three containers: the buffer as a data URI, as the external file
// `bin_name` beside `path`, or packed into a .glb.
void save_embedded(const GltfDoc& doc, const std::string& path);
void save_external(const GltfDoc& doc, const std::string& path, const std::string& bin_name);
void save_glb(const GltfDoc& doc, const std::string& path);
std::vector<uint8_t> glb_bytes(const GltfDoc& doc);

std::string base64(const std::vector<uint8_t>& bytes);

// A context for one test, destroyed with it.
struct TestContext {
    VitrelContext* ctx = vitrel_create();
    ~TestContext() { vitrel_destroy(ctx); }
    TestContext() = default;
    TestContext(const TestContext&) = delete;
    TestContext& operator=(const TestContext&) = delete;
    const Scene& scene() const { return ctx->scene; }
};
