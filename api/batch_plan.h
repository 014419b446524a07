// Host-side planning of one render batch: the multi-GPU tile list, the
// software motion sub-steps and the hardware motion records. Pure data
// transforms, so they are tested without a device.
#pragma once

#include <cstdint>
#include <vector>

struct Scene;

// A rectangle of framebuffer pixels rendered by one GPU with all the
// samples of a batch.
struct GpuTile {
    int32_t x = 0;
    int32_t y = 0;
    int32_t w = 0;
    int32_t h = 0;
};

// Row-major tiles of edge `tile` covering width x height; edge tiles are
// cut to the image. A tile edge of 0 is treated as 1.
std::vector<GpuTile> build_tile_list(uint32_t width, uint32_t height, uint32_t tile);

// Samples each software motion sub-step renders when a batch of
// `batch_samples` is split over `steps` sub-steps: the integer quotient, but
// never below 1 so a batch always makes progress.
uint32_t motion_substep_samples(uint32_t batch_samples, uint32_t steps);

// Copies step `step` of every instance that has one into its `transform`.
// Entry i * steps + step belongs to instance i; instances beyond the list
// and entries that are not 12 floats are skipped.
void apply_motion_step(Scene& scene, const std::vector<std::vector<float>>& xforms,
                       uint32_t steps, uint32_t step);

// For a GPU that traces motion itself: `transform` becomes step 0,
// `transform_end` step steps - 1, and `moving` tells whether they differ in
// any byte. Instances without entries keep their records.
void apply_motion_endpoints(Scene& scene, const std::vector<std::vector<float>>& xforms,
                            uint32_t steps);
