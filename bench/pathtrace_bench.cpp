// Path-tracer throughput on the Cornell box (scenes/cornell_box.json),
// 512 x 512 output, quality 1 and 2, 64 samples per pixel, at most 8
// bounces. Prints samples and rays per second against the raw ray rate of a
// primary-ray-only trace of the same scene in the same run, and the time of
// one batch split into trace, filter, light and post-processing passes
// (each pass type submitted and timed on its own), and the trace time of
// the same batch with and without path regeneration (the launch shapes of
// VkRenderer::sampleRegeneration) and as the ray-tracing pipeline against
// the compute form (VkRenderer::computeEyePaths).
//
// Usage: pathtrace_bench [repository dir]   (Release build, no sanitizers)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "pathtrace/render_setup.h"
#include "shaders/gpu_layout.h"

namespace {

constexpr int kOutputSize = 512;
constexpr int kSamples = 64;
constexpr int kBounces = 8;
constexpr int kCountSamples = 8;

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

enum class Pass { Trace, Filter, Light };

// One batch of `samples` with every pass submitted and timed on its own;
// adds the seconds of each pass type to `time`. Per tile and sample pass:
// trace, filter, light, in that order (the tile's sample scratch is reused
// by the next tile).
void timed_batch(VkRenderer& r, int samples, int traceParam, int extra, double time[3]) {
    // The library's choice of eye-path program (vk_dispatch.cpp).
    const bool computeTrace = r.computeEyePaths && r.eyePathComputePipeline != VK_NULL_HANDLE;
    const uint32_t S = r.samplesPerDispatch;
    const uint32_t T = r.tileSize;
    const uint32_t width = static_cast<uint32_t>(r.renderWidth);
    const uint32_t height = static_cast<uint32_t>(r.renderHeight);
    for (uint32_t s = 0; s < static_cast<uint32_t>(samples); s += S) {
        const uint32_t n = std::min(S, static_cast<uint32_t>(samples) - s);
        for (uint32_t ty = 0; ty < height; ty += T) {
            for (uint32_t tx = 0; tx < width; tx += T) {
                PushBlock p{};
                p.width = width;
                p.height = height;
                p.origin_x = tx;
                p.origin_y = ty;
                p.tile_width = std::min(T, width - tx);
                p.tile_height = std::min(T, height - ty);
                p.first_sample = s;
                p.sample_count = n;
                p.trace_param = static_cast<uint32_t>(traceParam);
                p.extra_param = extra;
                p.sample_end = static_cast<uint32_t>(samples);
                const uint32_t depth = r.sampleRegeneration ? 1 : n;
                for (Pass pass : {Pass::Trace, Pass::Filter, Pass::Light}) {
                    const Clock::time_point start = Clock::now();
                    VkCommandBuffer cmd = r.beginSingleTimeCommands();
                    const bool rayTracing = pass == Pass::Trace && !computeTrace;
                    const VkPipelineBindPoint point =
                        rayTracing ? VK_PIPELINE_BIND_POINT_RAY_TRACING_KHR : VK_PIPELINE_BIND_POINT_COMPUTE;
                    const VkPipeline pipeline = pass == Pass::Trace
                                                    ? (rayTracing ? r.rtPipeline : r.eyePathComputePipeline)
                                                    : (pass == Pass::Filter ? r.filterPipeline : r.lightPathPipeline);
                    vkCmdBindPipeline(cmd, point, pipeline);
                    vkCmdBindDescriptorSets(cmd, point, r.pipelineLayout, 0, 1, &r.descriptorSet, 0, nullptr);
                    vkCmdPushConstants(cmd, r.pipelineLayout, PUSH_BLOCK_STAGES, 0, PUSH_BLOCK_WRITTEN_BYTES, &p);
                    if (rayTracing) {
                        r.vkCmdTraceRaysKHR(cmd, &r.raygenRegion, &r.missRegion, &r.hitRegion, &r.callableRegion,
                                            p.tile_width, p.tile_height, depth);
                    } else {
                        vkCmdDispatch(cmd, (p.tile_width + 7) / 8, (p.tile_height + 7) / 8,
                                      pass == Pass::Trace ? depth : n);
                    }
                    r.endSingleTimeCommands(cmd);
                    time[static_cast<int>(pass)] += seconds_since(start);
                }
            }
        }
    }
}

// Sum of the red channel of the eye accumulation (ray counts in that mode).
double red_sum(VkRenderer& r) {
    std::vector<float> eye;
    std::vector<int32_t> light;
    r.readbackFramebuffers(eye, light);
    double sum = 0.0;
    for (size_t i = 0; i < eye.size(); i += 4) sum += eye[i];
    return sum;
}

void run(const std::string& repo, int quality) {
    Scene scene = cornell_box_scene(repo + "/scenes/cornell_box.json");
    RenderOutput output;
    output.width = output.height = kOutputSize;
    output.overscan = 0;
    output.quality = static_cast<uint32_t>(quality);
    VkRenderer r;
    prepare_renderer(r, scene, output, false, VITREL_SHADER_DIR, "");
    const double samples = static_cast<double>(r.renderWidth) * r.renderHeight * kSamples;

    // Rays per sample: every path counts what it traces (the first
    // kCountSamples samples of the batch below, the same paths).
    r.clearFramebuffers();
    double unused[3] = {0, 0, 0};
    timed_batch(r, kCountSamples, kBounces, TRACE_EXTRA_RAY_COUNT, unused);
    const double rays_per_sample = red_sum(r) / (static_cast<double>(r.renderWidth) * r.renderHeight * kCountSamples);
    const double rays = rays_per_sample * samples;

    r.clearFramebuffers();
    double primary[3] = {0, 0, 0};
    timed_batch(r, kSamples, kBounces, TRACE_EXTRA_PRIMARY_ONLY, primary);

    r.clearFramebuffers();
    double t[3] = {0, 0, 0};
    const Clock::time_point start = Clock::now();
    timed_batch(r, kSamples, kBounces, TRACE_EXTRA_NORMAL, t);
    const double batch = seconds_since(start);
    const Clock::time_point post_start = Clock::now();
    r.readback(output, kSamples, false);
    const double post = seconds_since(post_start);

    // The two launch shapes (a layer per sample; one layer whose invocations
    // run all samples in turn), alternating pass by pass so that both see
    // the same machine load.
    const bool regeneration = r.sampleRegeneration;
    double shape[2][3] = {{0, 0, 0}, {0, 0, 0}};
    for (int pass = 0; pass < kSamples / kCountSamples; ++pass) {
        for (int on = 0; on < 2; ++on) {
            r.sampleRegeneration = on != 0;
            timed_batch(r, kCountSamples, kBounces, TRACE_EXTRA_NORMAL, shape[on]);
        }
    }
    r.sampleRegeneration = regeneration;
    // The ray-tracing pipeline against the compute form, alternating too,
    // after one untimed sample of each (a CPU driver compiles a program on
    // its first use). createPipelines builds only the program the switch
    // asks for, so the other one lives in a second renderer.
    VkRenderer other;
    prepare_renderer(other, scene, output, false, VITREL_SHADER_DIR, "");
    other.computeEyePaths = !r.computeEyePaths;
    other.createPipelines(scene, VITREL_SHADER_DIR, "", nullptr);
    other.createDescriptors();
    other.updateDescriptors();
    VkRenderer* const programs[2] = {r.computeEyePaths ? &other : &r, r.computeEyePaths ? &r : &other};
    double program[2][3] = {{0, 0, 0}, {0, 0, 0}};
    for (VkRenderer* p : programs) {
        double untimed[3] = {0, 0, 0};
        timed_batch(*p, 1, kBounces, TRACE_EXTRA_NORMAL, untimed);
    }
    for (int pass = 0; pass < kSamples / kCountSamples; ++pass) {
        for (int on = 0; on < 2; ++on)
            timed_batch(*programs[on], kCountSamples, kBounces, TRACE_EXTRA_NORMAL, program[on]);
    }
    other.destroy();

    const double ray_rate = rays / t[0];
    const double primary_rate = samples / primary[0];
    std::printf("quality %d: render %dx%d, %d spp, max %d bounces\n", quality, r.renderWidth, r.renderHeight,
                kSamples, kBounces);
    std::printf("  batch %.2f s: trace %.2f s, filter %.3f s, light %.3f s; post %.3f s\n", batch, t[0], t[1],
                t[2], post);
    std::printf("  %.3f Msamples/s, %.3f Mrays/s (%.2f rays per sample)\n", samples / t[0] / 1e6, ray_rate / 1e6,
                rays / samples);
    std::printf("  primary rays only: %.3f Mrays/s; path rays at %.0f %% of that rate\n", primary_rate / 1e6,
                100.0 * ray_rate / primary_rate);
    std::printf("  trace, alternating: a layer per sample %.2f s, path regeneration %.2f s (%.2fx faster)\n",
                shape[0][0], shape[1][0], shape[0][0] / shape[1][0]);
    std::printf("  trace, alternating: ray-tracing pipeline %.2f s, compute with ray queries %.2f s (%.2fx faster)\n",
                program[0][0], program[1][0], program[0][0] / program[1][0]);
    r.destroy();
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each figure as soon as it is known
    const std::string repo = argc > 1 ? argv[1] : VITREL_SOURCE_DIR;
    for (int quality : {1, 2}) run(repo, quality);
    return 0;
}
