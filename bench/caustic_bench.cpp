// Light tracing for caustics: what the light pass costs per batch against
// the eye pass, on the Cornell box (no specular vertex: the light paths
// find nothing to splat), on the glass-sphere caustic scene of the tests
// and on the Cornell box with a glass sphere, and how much less noise the
// caustic carries at equal time.
// Both numbers come from one run: each configuration renders kBatches
// independent batches, timed; the noise is the per-pixel standard error
// over those batches, averaged over the caustic: the pixels where the light
// image makes up at least kCausticShare of the mean with light tracing on,
// that is where light paths carry most of the pixel.
//
// Usage: caustic_bench [repository dir [scene]]   (Release build, no
// sanitizers); a scene name ("cornell", "caustic", "cornell glass") runs
// that scene alone.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "pathtrace/render_setup.h"
#include "shaders/gpu_layout.h"

namespace {

constexpr int kOutputSize = 96;
constexpr int kSamples = 16;
constexpr int kBatches = 8;
constexpr int kBounces = 8;
constexpr double kCausticShare = 0.5;

using Clock = std::chrono::steady_clock;

struct Run {
    double seconds_per_batch = 0.0;
    std::vector<double> mean;      // per pixel, channel sum
    std::vector<double> variance;  // of the batch means
    std::vector<double> splat;     // light splats alone, mean over batches
    std::vector<double> splat_variance;  // of the light image's batch means
};

Run render(VkRenderer& r, const Scene& scene, const RenderOutput& output, int traceParam) {
    const size_t pixels = static_cast<size_t>(r.renderWidth) * r.renderHeight;
    Run run{0.0, std::vector<double>(pixels), std::vector<double>(pixels), std::vector<double>(pixels),
            std::vector<double>(pixels)};
    std::vector<double> squares(pixels), splat_squares(pixels);
    std::vector<float> eye;
    std::vector<int32_t> light;
    for (int b = 0; b < kBatches; ++b) {
        const Clock::time_point start = Clock::now();
        r.renderBatch(scene, output, kSamples, traceParam, 0, b * kSamples, true);
        run.seconds_per_batch += std::chrono::duration<double>(Clock::now() - start).count() / kBatches;
        r.readbackFramebuffers(eye, light);
        for (size_t p = 0; p < pixels; ++p) {
            const double n = std::max(eye[4 * p + 3], 1.0f);
            const double splat =
                (light[4 * p] + light[4 * p + 1] + light[4 * p + 2]) * LIGHT_ACCUM_SCALE / kSamples;
            const double v = (eye[4 * p] + eye[4 * p + 1] + eye[4 * p + 2]) / n + splat;
            run.mean[p] += v / kBatches;
            squares[p] += v * v / kBatches;
            run.splat[p] += splat / kBatches;
            splat_squares[p] += splat * splat / kBatches;
        }
    }
    const double unbiased = kBatches / (kBatches - 1.0);
    for (size_t p = 0; p < pixels; ++p) {
        run.variance[p] = std::max(squares[p] - run.mean[p] * run.mean[p], 0.0) * unbiased;
        run.splat_variance[p] = std::max(splat_squares[p] - run.splat[p] * run.splat[p], 0.0) * unbiased;
    }
    return run;
}

void bench_scene(const char* name, Scene scene) {
    RenderOutput output;
    output.width = output.height = kOutputSize;
    output.overscan = 0;
    output.quality = 1;
    VkRenderer r;
    prepare_renderer(r, scene, output, false, VITREL_SHADER_DIR, "");
    render(r, scene, output, kBounces | TRACE_PARAM_LIGHT_TRACING);  // warm-up
    const Run off = render(r, scene, output, kBounces);
    const Run on = render(r, scene, output, kBounces | TRACE_PARAM_LIGHT_TRACING);
    r.destroy();

    const double light_pass = on.seconds_per_batch - off.seconds_per_batch;
    std::printf("%s: %dx%d, %d spp per batch: eye pass %.3f s, with light pass %.3f s; light pass %.3f s "
                "(%.2fx the eye pass)\n",
                name, kOutputSize, kOutputSize, kSamples, off.seconds_per_batch, on.seconds_per_batch,
                light_pass, light_pass / off.seconds_per_batch);
    const double brightest = *std::max_element(on.splat.begin(), on.splat.end());
    if (!(brightest > 0.0)) {
        std::printf("%s: no light splats (no specular vertex)\n", name);
        return;
    }
    double var_on = 0.0, var_off = 0.0, var_light = 0.0;
    int caustic = 0;
    for (size_t p = 0; p < on.splat.size(); ++p) {
        if (!(on.splat[p] > 0.0) || on.splat[p] < kCausticShare * on.mean[p]) continue;
        ++caustic;
        var_on += on.variance[p];
        var_off += off.variance[p];
        var_light += on.splat_variance[p];
    }
    const double equal_samples = std::sqrt(var_off / var_on);
    const double equal_time = std::sqrt(var_off * off.seconds_per_batch / (var_on * on.seconds_per_batch));
    std::printf("%s: caustic %d pixels, RMS error off/on %.2fx at equal samples, %.2fx at equal time; "
                "light image %.0f %% of the variance with light tracing on\n",
                name, caustic, equal_samples, equal_time, 100.0 * var_light / var_on);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string repo = argc > 1 ? argv[1] : VITREL_SOURCE_DIR;
    const std::string only = argc > 2 ? argv[2] : "";
    const std::string box = repo + "/scenes/cornell_box.json";
    if (only.empty() || only == "cornell") bench_scene("cornell", cornell_box_scene(box));
    if (only.empty() || only == "caustic") bench_scene("caustic", caustic_scene());
    if (only.empty() || only == "cornell glass") bench_scene("cornell glass", cornell_glass_scene(box));
    return 0;
}
