// Steps shared by the calls that prepare, render and update: size checks,
// scene packing for the current output, the scene-parameter upload and the
// reporting of a failure. All run under the context lock.
#pragma once

#include <cstdint>
#include <string>

struct RenderOutput;
struct Scene;
struct VitrelContext;
class VkRenderer;

// Largest framebuffer edge (render pixels, overscan and quality included)
// the calls accept; larger requests are refused before any allocation.
constexpr unsigned long long kMaxRenderEdge = 65536;

// Samples a batch adds per pixel (and the most one dispatch takes): the
// stored count, kept between 1 and kMaxBatchSamples. A count of 0 would
// never advance, and a negative one set through the int interface reads as
// billions.
constexpr uint32_t kMaxBatchSamples = 65536;
uint32_t batch_samples(const VitrelContext& ctx);

// "" when `output` gives a non-empty framebuffer of at most kMaxRenderEdge
// per axis, else why not.
std::string check_render_size(const RenderOutput& output);

// build_scene_buffer for the context's output (rendered size including the
// overscan border, and the field-of-view widening it implies).
void pack_scene(VitrelContext& ctx);

// Uploads the packed scene parameters into `r`. A block that outgrew the
// buffer made at preparation (more camera keyframes, for instance) gets a
// new buffer, and the descriptors are refreshed.
void upload_scene_params(VkRenderer& r, const Scene& scene);

// Stores `text` in last_error and prints "<prefix><text>\n" to standard
// error.
void report_failure(VitrelContext& ctx, const char* prefix, const std::string& text);
