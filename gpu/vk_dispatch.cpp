// Render passes and read-back: sample passes over tile rows, each row one
// waited submission, and the post-processing chain that turns the
// accumulation into the float, 8-bit and auxiliary images.
#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "gpu/vk_barriers.h"
#include "gpu/vk_check.h"
#include "gpu/vk_renderer.h"
#include "scene/render_output.h"
#include "shaders/gpu_layout.h"

namespace {

constexpr uint32_t kTileGroupEdge = 8;    // compute passes over a tile: 8x8x1 groups
constexpr uint32_t kLinearGroupSize = 64; // post-processing passes: 64 pixels per group
constexpr VkDeviceSize kSampleBytes = 16;
constexpr VkDeviceSize kOutputTexelBytes = 16;
constexpr VkDeviceSize kRgba8TexelBytes = 4;
constexpr VkDeviceSize kDepthTexelBytes = 4;
constexpr VkDeviceSize kNormalTexelBytes = 12;
constexpr VkDeviceSize kObjectIdTexelBytes = 4;

constexpr VkPipelineStageFlags kRayTracingStage = VK_PIPELINE_STAGE_RAY_TRACING_SHADER_BIT_KHR;
constexpr VkPipelineStageFlags kComputeStage = VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT;
constexpr VkPipelineStageFlags kTransferStage = VK_PIPELINE_STAGE_TRANSFER_BIT;
constexpr VkAccessFlags kShaderReadWrite = VK_ACCESS_SHADER_READ_BIT | VK_ACCESS_SHADER_WRITE_BIT;

void global_barrier(VkCommandBuffer cmd, VkPipelineStageFlags srcStage,
                    VkPipelineStageFlags dstStage, VkAccessFlags srcAccess,
                    VkAccessFlags dstAccess) {
    VkMemoryBarrier barrier{};
    barrier.sType = VK_STRUCTURE_TYPE_MEMORY_BARRIER;
    barrier.srcAccessMask = srcAccess;
    barrier.dstAccessMask = dstAccess;
    vkCmdPipelineBarrier(cmd, srcStage, dstStage, 0, 1, &barrier, 0, nullptr, 0, nullptr);
}

void trace_to_compute(VkCommandBuffer cmd) {
    global_barrier(cmd, kRayTracingStage, kComputeStage, VK_ACCESS_SHADER_WRITE_BIT,
                   kShaderReadWrite);
}
void compute_to_compute(VkCommandBuffer cmd) {
    global_barrier(cmd, kComputeStage, kComputeStage, VK_ACCESS_SHADER_WRITE_BIT,
                   kShaderReadWrite);
}
void compute_to_next_pass(VkCommandBuffer cmd) {
    global_barrier(cmd, kComputeStage, kRayTracingStage | kComputeStage,
                   VK_ACCESS_SHADER_WRITE_BIT, kShaderReadWrite);
}
void compute_to_transfer(VkCommandBuffer cmd) {
    global_barrier(cmd, kComputeStage, kTransferStage, VK_ACCESS_SHADER_WRITE_BIT,
                   VK_ACCESS_TRANSFER_READ_BIT);
}

uint32_t groups(uint64_t count, uint32_t groupSize) {
    return static_cast<uint32_t>((count + groupSize - 1) / groupSize);
}

// What one trace pass runs: the static or the motion-blur programs.
struct TraceSet {
    VkPipeline rayTracing;
    const VkStridedDeviceAddressRegionKHR* raygen;
    const VkStridedDeviceAddressRegionKHR* miss;
    const VkStridedDeviceAddressRegionKHR* hit;
    const VkStridedDeviceAddressRegionKHR* callable;
    VkPipeline lightPath;
    VkPipeline eyeCompute;  // the eye paths' compute form, or none
};

TraceSet choose_trace_set(const VkRenderer& r) {
    if (r.hasMotionBlur && r.rtPipelineMotion != VK_NULL_HANDLE && r.useMotionBlur)
        return {r.rtPipelineMotion, &r.raygenRegionMotion, &r.missRegionMotion,
                &r.hitRegionMotion, &r.callableRegionMotion,
                r.lightPathMotionPipeline != VK_NULL_HANDLE ? r.lightPathMotionPipeline
                                                            : r.lightPathPipeline,
                VK_NULL_HANDLE};
    return {r.rtPipeline, &r.raygenRegion, &r.missRegion, &r.hitRegion, &r.callableRegion,
            r.lightPathPipeline,
            r.computeEyePaths || r.rtPipeline == VK_NULL_HANDLE ? r.eyePathComputePipeline
                                                                : VK_NULL_HANDLE};
}

// A trace-pass push block; words 11-21 stay zero and word 22 carries the
// sampler seed (TRACE_SEED_WORD), so the default seed 0 leaves 11-22 zero.
PushBlock trace_push(int32_t renderWidth, int32_t renderHeight, uint32_t x, uint32_t y,
                     uint32_t w, uint32_t h, uint32_t first, uint32_t count, int traceParam,
                     int extraParam, uint32_t end, uint32_t seed) {
    PushBlock p{};
    p.width = static_cast<uint32_t>(renderWidth);
    p.height = static_cast<uint32_t>(renderHeight);
    p.origin_x = x;
    p.origin_y = y;
    p.tile_width = w;
    p.tile_height = h;
    p.first_sample = first;
    p.sample_count = count;
    p.trace_param = static_cast<uint32_t>(traceParam);
    p.extra_param = extraParam;
    p.sample_end = end;
    p.TRACE_SEED_WORD = seed;
    return p;
}

// Passes one tile records: trace, filter and light.
constexpr uint32_t kTilePasses = 3;

}  // namespace

namespace {

// Whether a sample pass with these parameters runs the light-path program.
bool light_pass_runs(uint32_t traceParam, uint32_t extraParam) {
    return (traceParam & TRACE_PARAM_LIGHT_TRACING) != 0 && extraParam == TRACE_EXTRA_NORMAL;
}

// A compute pass over the tile of `push`, `depth` layers deep.
void dispatch_over_tile(VkRenderer& r, VkCommandBuffer cmd, VkPipeline pipeline, const PushBlock& push,
                        uint32_t depth) {
    vkCmdBindPipeline(cmd, VK_PIPELINE_BIND_POINT_COMPUTE, pipeline);
    vkCmdBindDescriptorSets(cmd, VK_PIPELINE_BIND_POINT_COMPUTE, r.computePipelineLayout, 0, 1,
                            &r.descriptorSet, 0, nullptr);
    vkCmdPushConstants(cmd, r.computePipelineLayout, PUSH_BLOCK_STAGES, 0, PUSH_BLOCK_WRITTEN_BYTES,
                       &push);
    vkCmdDispatch(cmd, groups(push.tile_width, kTileGroupEdge), groups(push.tile_height, kTileGroupEdge),
                  depth);
}

// Records ray generation, the sample filter and the light-path pass of one
// tile for the samples in `push`.
void record_tile(VkRenderer& r, VkCommandBuffer cmd, const TraceSet& set, const PushBlock& push) {
    const uint32_t w = push.tile_width;
    const uint32_t h = push.tile_height;
    const uint32_t n = push.sample_count;
    // Eye paths read from the launch depth how many sample layers each
    // invocation runs (framebuffers.glsl).
    const uint32_t depth = r.sampleRegeneration ? std::min(n, 1u) : n;
    if (set.eyeCompute != VK_NULL_HANDLE) {
        dispatch_over_tile(r, cmd, set.eyeCompute, push, depth);
        r.stampPass(cmd, GpuPass::Trace);
        compute_to_compute(cmd);
    } else {
        vkCmdBindPipeline(cmd, VK_PIPELINE_BIND_POINT_RAY_TRACING_KHR, set.rayTracing);
        vkCmdBindDescriptorSets(cmd, VK_PIPELINE_BIND_POINT_RAY_TRACING_KHR, r.pipelineLayout, 0,
                                1, &r.descriptorSet, 0, nullptr);
        vkCmdPushConstants(cmd, r.pipelineLayout, PUSH_BLOCK_STAGES, 0, PUSH_BLOCK_WRITTEN_BYTES,
                           &push);
        r.vkCmdTraceRaysKHR(cmd, set.raygen, set.miss, set.hit, set.callable, w, h, depth);
        r.stampPass(cmd, GpuPass::Trace);
        trace_to_compute(cmd);
    }

    dispatch_over_tile(r, cmd, r.filterPipeline, push, n);
    r.stampPass(cmd, GpuPass::Filter);
    compute_to_compute(cmd);

    // Without light tracing the light pass would only return: not running it
    // also spares a CPU driver compiling it on first use.
    if (!light_pass_runs(push.trace_param, push.extra_param)) return;
    dispatch_over_tile(r, cmd, set.lightPath, push, n);
    r.stampPass(cmd, GpuPass::Light);
}

void record_compute(VkRenderer& r, VkCommandBuffer cmd, VkPipeline pipeline, GpuPass pass,
                    const PushBlock& push, uint64_t pixels) {
    vkCmdBindPipeline(cmd, VK_PIPELINE_BIND_POINT_COMPUTE, pipeline);
    vkCmdBindDescriptorSets(cmd, VK_PIPELINE_BIND_POINT_COMPUTE, r.computePipelineLayout, 0, 1,
                            &r.descriptorSet, 0, nullptr);
    vkCmdPushConstants(cmd, r.computePipelineLayout, PUSH_BLOCK_STAGES, 0,
                       PUSH_BLOCK_WRITTEN_BYTES, &push);
    vkCmdDispatch(cmd, groups(pixels, kLinearGroupSize), 1, 1);
    r.stampPass(cmd, pass);
}

// The post-processing push block of the first pass (render size in words
// 0-1); later passes put the output size there and the render size in 2-3.
PushBlock post_push(const VkRenderer& r, const RenderOutput& o, int totalSamples, bool linear) {
    PushBlock p{};
    p.width = static_cast<uint32_t>(r.renderWidth);
    p.height = static_cast<uint32_t>(r.renderHeight);
    p.sample_end = static_cast<uint32_t>(totalSamples);
    p.exposure = o.exposure;
    std::copy(o.grade, o.grade + 5, p.grade);
    p.overscan = r.renderOverscan;
    p.quality = r.renderQuality;
    p.post_mode = o.post_mode;
    p.post_param0 = o.post_param0;
    p.post_param1 = o.post_param1;
    p.display_output = linear ? 0u : 1u;
    return p;
}

// Passes of the post-processing chain: post-processing and downsample.
constexpr uint32_t kPostChainPasses = 2;

// Post-processing at render resolution, then the box downsample to the
// output size, with the barrier between them. Returns the block the later
// passes of the chain push.
PushBlock record_post_chain(VkRenderer& r, VkCommandBuffer cmd, const RenderOutput& output,
                            int totalSamples, bool linear, uint64_t renderPixels,
                            uint64_t outputPixels) {
    PushBlock push = post_push(r, output, totalSamples, linear);
    record_compute(r, cmd, r.postprocessPipeline, GpuPass::Post, push, renderPixels);
    compute_to_compute(cmd);
    push.width = static_cast<uint32_t>(r.outputWidth);
    push.height = static_cast<uint32_t>(r.outputHeight);
    push.origin_x = static_cast<uint32_t>(r.renderWidth);
    push.origin_y = static_cast<uint32_t>(r.renderHeight);
    record_compute(r, cmd, r.downsamplePipeline, GpuPass::Downsample, push, outputPixels);
    return push;
}

}  // namespace

int VkRenderer::samplesPerPass() const {
    // The scratch buffer was sized at createBuffers for one tile of
    // samplesPerDispatch samples; both members are public, so a later change
    // must neither overrun it nor (at 0) stall the pass loop.
    const uint64_t tile = static_cast<uint64_t>(tileSize) * tileSize;
    const uint64_t capacity = tile == 0 ? 0 : sampleBuffer.size / (kSampleBytes * tile);
    if (capacity == 0)
        throw std::runtime_error("tileSize exceeds the sample buffer made by createBuffers");
    return static_cast<int>(std::min<uint64_t>(std::max(samplesPerDispatch, 1u), capacity));
}

void VkRenderer::requireRenderState() const {
    requireFramebuffers();
    if ((rtPipeline == VK_NULL_HANDLE && eyePathComputePipeline == VK_NULL_HANDLE) ||
        descriptorSet == VK_NULL_HANDLE)
        throw std::runtime_error("Renderer not prepared: pipelines or descriptors missing");
}

void VkRenderer::readyTracePass(int traceParam, int extraParam) {
    requireRenderState();
    if (light_pass_runs(static_cast<uint32_t>(traceParam), static_cast<uint32_t>(extraParam)))
        ensureLightPathPipelines();
}

void VkRenderer::renderBatch(const Scene&, const RenderOutput&, int sampleCount, int traceParam,
                             int extraParam, int firstSample, bool clear) {
    if (renderWidth <= 0 || renderHeight <= 0) return;
    readyTracePass(traceParam, extraParam);
    const TraceSet set = choose_trace_set(*this);
    // clearFramebuffers records the clear-to-shaders barrier itself.
    if (clear) clearFramebuffers();
    if (sampleCount <= 0) return;
    const int step = samplesPerPass();
    const int tile = static_cast<int>(tileSize);
    const int end = firstSample + sampleCount;
    const uint32_t tilesPerRow = static_cast<uint32_t>(groups(static_cast<uint64_t>(renderWidth),
                                                              tileSize));
    for (int s = firstSample; s < end; s += step) {
        const int n = std::min(step, end - s);
        for (int ty = 0; ty < renderHeight; ty += tile) {
            const int th = std::min(tile, renderHeight - ty);
            VkCommandBuffer cmd = beginSingleTimeCommands();
            beginPassTimestamps(cmd, kTilePasses * tilesPerRow);
            for (int tx = 0; tx < renderWidth; tx += tile) {
                const int tw = std::min(tile, renderWidth - tx);
                record_tile(*this, cmd, set,
                            trace_push(renderWidth, renderHeight, tx, ty, tw, th, s, n,
                                       traceParam, extraParam, end, samplerSeed));
                compute_to_next_pass(cmd);
            }
            endSingleTimeCommands(cmd);
            collectPassTimestamps();
        }
    }
}

void VkRenderer::renderSingleTile(const Scene&, const RenderOutput&, int x, int y, int w, int h,
                                  int sampleCount, int traceParam, int extraParam,
                                  int firstSample) {
    // The scratch buffer holds one tile of samplesPerDispatch samples, so a
    // larger rectangle or one outside the image would write past buffers.
    if (w <= 0 || h <= 0 || sampleCount <= 0) return;
    if (x < 0 || y < 0 || x > renderWidth - w || y > renderHeight - h ||
        static_cast<uint32_t>(w) > tileSize || static_cast<uint32_t>(h) > tileSize)
        throw std::runtime_error("renderSingleTile: rectangle outside the render image or "
                                 "larger than one tile");
    readyTracePass(traceParam, extraParam);
    const TraceSet set = choose_trace_set(*this);
    const int step = samplesPerPass();
    const int end = firstSample + sampleCount;
    for (int s = firstSample; s < end; s += step) {
        const int n = std::min(step, end - s);
        VkCommandBuffer cmd = beginSingleTimeCommands();
        beginPassTimestamps(cmd, kTilePasses);
        record_tile(*this, cmd, set,
                    trace_push(renderWidth, renderHeight, x, y, w, h, s, n, traceParam,
                               extraParam, end, samplerSeed));
        endSingleTimeCommands(cmd);
        collectPassTimestamps();
    }
}

float* VkRenderer::readback(const RenderOutput& output, int totalSamples, bool linear) {
    const uint64_t R = static_cast<uint64_t>(std::max(renderWidth, 0)) * std::max(renderHeight, 0);
    const uint64_t P = static_cast<uint64_t>(std::max(outputWidth, 0)) * std::max(outputHeight, 0);
    if (R == 0 || P == 0) return outputMapped;
    requireRenderState();
    VkCommandBuffer cmd = beginSingleTimeCommands();
    beginPassTimestamps(cmd, kPostChainPasses);
    record_post_chain(*this, cmd, output, totalSamples, linear, R, P);
    compute_to_transfer(cmd);
    const VkBufferCopy copy{0, 0, kOutputTexelBytes * P};
    vkCmdCopyBuffer(cmd, outputBuffer.buffer, outputStaging.buffer, 1, &copy);
    barrier_transfer_to_host(cmd);
    endSingleTimeCommands(cmd);
    collectPassTimestamps();
    return outputMapped;
}

void VkRenderer::readbackUint8(const RenderOutput& output, int totalSamples,
                               std::vector<uint8_t>& dst) {
    const uint64_t R = static_cast<uint64_t>(std::max(renderWidth, 0)) * std::max(renderHeight, 0);
    const uint64_t P = static_cast<uint64_t>(std::max(outputWidth, 0)) * std::max(outputHeight, 0);
    if (R == 0 || P == 0) {
        dst.clear();
        return;
    }
    requireRenderState();
    VkCommandBuffer cmd = beginSingleTimeCommands();
    beginPassTimestamps(cmd, kPostChainPasses + 1);
    const PushBlock push = record_post_chain(*this, cmd, output, totalSamples, false, R, P);
    compute_to_compute(cmd);
    record_compute(*this, cmd, quantizePipeline, GpuPass::Quantize, push, P);
    compute_to_transfer(cmd);
    const VkDeviceSize bytes = kRgba8TexelBytes * P;
    const VkBufferCopy copy{0, 0, bytes};
    vkCmdCopyBuffer(cmd, outputRgba8Buffer.buffer, outputRgba8Staging.buffer, 1, &copy);
    barrier_transfer_to_host(cmd);
    endSingleTimeCommands(cmd);
    collectPassTimestamps();
    dst.resize(bytes);
    void* mapped = nullptr;
    VK_CHECK(vmaMapMemory(allocator, outputRgba8Staging.allocation, &mapped));
    std::memcpy(dst.data(), mapped, bytes);
    vmaUnmapMemory(allocator, outputRgba8Staging.allocation);
}

void VkRenderer::computeAOVs(const RenderOutput&) {
    const uint64_t P = static_cast<uint64_t>(std::max(outputWidth, 0)) * std::max(outputHeight, 0);
    if (P == 0) return;
    requireRenderState();
    PushBlock push{};
    push.width = static_cast<uint32_t>(outputWidth);
    push.height = static_cast<uint32_t>(outputHeight);
    // The camera spans the padded image, so the pass needs the border width
    // to aim its rays at output pixels.
    push.overscan = renderOverscan;
    VkCommandBuffer cmd = beginSingleTimeCommands();
    beginPassTimestamps(cmd, 1);
    record_compute(*this, cmd, aovPipeline, GpuPass::Aov, push, P);
    endSingleTimeCommands(cmd);
    collectPassTimestamps();
}

void VkRenderer::readbackAOVs(const RenderOutput&, std::vector<float>& depthPass,
                              std::vector<float>& normalPass,
                              std::vector<int32_t>& objectIdPass) {
    const uint64_t P = static_cast<uint64_t>(std::max(outputWidth, 0)) * std::max(outputHeight, 0);
    depthPass.resize(P);
    normalPass.resize(3 * P);
    objectIdPass.resize(P);
    if (P == 0) return;
    struct Pass {
        const AllocatedBuffer& source;
        VkDeviceSize bytes;
        void* destination;
    };
    const Pass passes[] = {{aovDepthBuffer, kDepthTexelBytes * P, depthPass.data()},
                           {aovNormalBuffer, kNormalTexelBytes * P, normalPass.data()},
                           {aovObjectIdBuffer, kObjectIdTexelBytes * P, objectIdPass.data()}};
    for (const Pass& pass : passes) {
        VkCommandBuffer cmd = beginSingleTimeCommands();
        compute_to_transfer(cmd);
        const VkBufferCopy copy{0, 0, pass.bytes};
        vkCmdCopyBuffer(cmd, pass.source.buffer, aovStaging.buffer, 1, &copy);
        barrier_transfer_to_host(cmd);
        endSingleTimeCommands(cmd);
        void* mapped = nullptr;
        VK_CHECK(vmaMapMemory(allocator, aovStaging.allocation, &mapped));
        std::memcpy(pass.destination, mapped, pass.bytes);
        vmaUnmapMemory(allocator, aovStaging.allocation);
    }
}

float* VkRenderer::render(const Scene& scene, const RenderOutput& output, int sampleCount,
                          int traceParam, int extraParam) {
    renderBatch(scene, output, sampleCount, traceParam, extraParam, 0, true);
    return readback(output, sampleCount, false);
}
