// Shared pieces of the path-tracer tests: a prepared renderer with
// validation on (any validation message fails the test), batches, and the
// accumulation read back per render pixel.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "pathtrace/render_setup.h"

using Rgb = std::array<double, 3>;

// The per-pixel result of the eye and light accumulations.
struct Accumulation {
    int width = 0;
    int height = 0;
    int samples = 0;             // samples accumulated (divides the light splats)
    std::vector<float> eye;      // rgb sum, kept-sample count per pixel
    std::vector<int32_t> light;  // rgb: light splats (fixed point); a: dropped samples per pixel
    // Mean radiance as read-out computes it: eye mean plus light splats.
    // With `light_only`, the light splats alone.
    Rgb mean(int x, int y, bool light_only = false) const;
    // Mean over the rectangle [x0, x1) x [y0, y1) of per-pixel means.
    Rgb region_mean(int x0, int y0, int x1, int y1) const;
    long long dropped() const;
};

// Eye and light accumulations equal to the bit.
bool same_bits(const Accumulation& a, const Accumulation& b);

class PathTest : public ::testing::Test {
protected:
    void TearDown() override;
    // Prepares a renderer for `scene` at size x size pixels (no overscan),
    // rendered at `quality` x `quality` render pixels per pixel.
    void prepare(Scene scene, int size, bool floatAtomics = true, int quality = 1);
    void batch(int samples, int firstSample, bool clear, int traceParam);
    // Builds the programs again (after a switch that createPipelines reads).
    void rebuild_programs();
    Accumulation accumulation();
    // prepare + one batch + accumulation.
    Accumulation render(Scene scene, int size, int samples, int traceParam = 0);
    // 16 samples as one batch and as two of 8 over the same sample range:
    // expects the same bits and returns the accumulation.
    Accumulation expect_split_repeats(int traceParam);

    std::unique_ptr<VkRenderer> renderer;
    bool light_paths_at_preparation_ = true;  // applied by prepare
    uint32_t tile_size_ = 0;                   // applied by prepare when not 0
    bool trace_cpu_bvh_ = true;                // applied by prepare
    int samples_ = 0;  // accumulated since the last clearing batch
    Scene scene_;
    RenderOutput output_;
};

std::string repository_dir();
Scene cornell_box_scene();
// A unit sphere of material `m` at the origin inside a uniform environment
// of radiance 1, filling most of the view: a furnace.
Scene furnace_scene(const Material& m);
