// A prepared renderer over a small scene: pipelines from the build tree's
// SPIR-V (or a run-time source folder), geometry, framebuffers and the
// descriptor set, with validation on (GpuTest).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "gpu/gpu_test_support.h"
#include "scene/render_output.h"
#include "scene/scene.h"

// The build tree's compiled shader directory.
std::string built_shader_dir();

// A fresh, empty folder under the system's temporary directory.
std::filesystem::path fresh_dir(const std::string& name);

// The shader sources with the test ray-generation program in place of the
// real one, ready for run-time compilation.
std::string test_source_dir();

// One 10 x 10 quad in the plane z = 0 spanning x in [x0, x0 + 10], y in
// [-5, 5], seen from (0, 0, distance) along -z, 60 degree field of view.
Scene plane_scene(float x0, float distance);

RenderOutput small_output(uint32_t width, uint32_t height, uint32_t overscan, uint32_t quality);

// These tests drive the ray-tracing pipeline, most with the test-only ray
// generation, so the eye paths' compute form is never built for them.
class RenderTest : public GpuTest {
protected:
    void SetUp() override {
        GpuTest::SetUp();
        if (renderer) renderer->computeEyePaths = false;
    }
    // Runs every preparation step; returns what createPipelines printed.
    std::string prepare(Scene& scene, const RenderOutput& output, const std::string& sourceDir);
    void rebuildPipelines(Scene& scene, const std::string& sourceDir);

    std::vector<float> eyeAccum();
};
