// Shared pieces of the render tests: scenes built in code (spheres, quads,
// the Cornell box of scenes/cornell_box.json), a renderer prepared the way
// the library prepares one (build_scene_buffer, init, createPipelines,
// buildAccelerationStructures, createBuffers, descriptors), batches, and
// the accumulation read back per render pixel. Validation is on, and any
// validation message fails the test.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "gpu/vk_renderer.h"
#include "scene/render_output.h"
#include "scene/scene.h"

using Rgb = std::array<double, 3>;

// Material helpers: Lambertian (specular 0), emitter, and whatever the
// caller edits afterwards.
Material diffuse_material(float albedo, float emission = 0.0f);

// Appends a mesh and an instance of it with material `material`; returns
// the instance id.
int add_mesh_instance(Scene& scene, MeshData mesh, int material);
// UV sphere about `centre`, smooth normals, winding (and normals) facing
// outwards, or inwards with `inward`.
MeshData sphere_mesh(const float centre[3], float radius, bool inward = false, int rings = 24,
                     int segments = 48);
// Quad with corners a, b, c, d (counter-clockwise seen from its front),
// with uvs.
MeshData quad_mesh(const float a[3], const float b[3], const float c[3], const float d[3]);
// A 1 x 1 float environment map of radiance `value`.
void set_uniform_environment(Scene& scene, float value);
void set_camera(Scene& scene, const float position[3], const float look_at[3], float fov);
// The Cornell box from scenes/cornell_box.json: one mesh per material.
Scene cornell_box_scene();

// The per-pixel result of the eye accumulation.
struct Accumulation {
    int width = 0;
    int height = 0;
    std::vector<float> eye;      // rgb sum, kept-sample count per pixel
    std::vector<int32_t> light;  // a: dropped samples per pixel
    Rgb mean(int x, int y) const;
    // Mean over the rectangle [x0, x1) x [y0, y1) of per-pixel means.
    Rgb region_mean(int x0, int y0, int x1, int y1) const;
    long long dropped() const;
};

class PathTest : public ::testing::Test {
protected:
    void TearDown() override;
    // Prepares a renderer for `scene` at size x size pixels (no overscan,
    // quality 1).
    void prepare(Scene scene, int size, bool floatAtomics = true);
    void batch(int samples, int firstSample, bool clear, int traceParam);
    Accumulation accumulation();
    // prepare + one batch + accumulation.
    Accumulation render(Scene scene, int size, int samples, int traceParam = 0);

    std::unique_ptr<VkRenderer> renderer;
    Scene scene_;
    RenderOutput output_;
};

std::string repository_dir();
