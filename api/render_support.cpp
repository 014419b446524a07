#include "api/render_support.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "api/vitrel_context.h"
#include "codegen/default_graphs.h"
#include "gpu/vk_renderer.h"
#include "scene/scene_prep.h"

uint32_t batch_samples(const VitrelContext& ctx) {
    // The count arrives through an int: a negative one reads as a huge
    // unsigned value and counts as below 1.
    if (ctx.samples_per_batch > static_cast<uint32_t>(INT32_MAX)) return 1;
    return std::clamp(ctx.samples_per_batch, 1u, kMaxBatchSamples);
}

std::string check_render_size(const RenderOutput& output) {
    const unsigned long long q = output.quality;
    const unsigned long long w = (output.width + 2ull * output.overscan) * q;
    const unsigned long long h = (output.height + 2ull * output.overscan) * q;
    if (output.width < 1 || output.height < 1 || q < 1)
        return "output " + std::to_string(output.width) + "x" + std::to_string(output.height) +
               " at quality " + std::to_string(q) + " is empty";
    if (w > kMaxRenderEdge || h > kMaxRenderEdge)
        return "render size " + std::to_string(w) + "x" + std::to_string(h) +
               " exceeds the limit of " + std::to_string(kMaxRenderEdge) + " pixels per axis";
    return "";
}

void pack_scene(VitrelContext& ctx) {
    const RenderOutput& o = ctx.output;
    // Graphs may make any material specular whatever its fields say.
    std::vector<bool> graph_driven(ctx.material_exprs.size());
    for (size_t i = 0; i < graph_driven.size(); ++i) {
        const MaterialExprData& e = ctx.material_exprs[i];
        graph_driven[i] =
            host_graph_selected(e.albedo) || host_graph_selected(e.roughness) || host_graph_selected(e.metallic);
    }
    build_scene_buffer(ctx.scene, static_cast<int>(o.padded_width()), static_cast<int>(o.padded_height()),
                       o.overscan_scale(), graph_driven);
}

void upload_scene_params(VkRenderer& r, const Scene& scene) {
    const VkDeviceSize bytes = scene.scene_params.size() * sizeof(float);
    if (bytes > r.sceneParamsBuffer.size) {
        r.destroyBuffer(r.sceneParamsBuffer);
        r.sceneParamsBuffer = r.createDeviceBuffer(bytes, VK_BUFFER_USAGE_STORAGE_BUFFER_BIT);
        r.uploadBuffer(r.sceneParamsBuffer, scene.scene_params.data(), bytes);
        r.updateDescriptors();
        return;
    }
    r.uploadBuffer(r.sceneParamsBuffer, scene.scene_params.data(), bytes);
}

void report_failure(VitrelContext& ctx, const char* prefix, const std::string& text) {
    ctx.last_error = text;
    std::fprintf(stderr, "%s%s\n", prefix, text.c_str());
}
