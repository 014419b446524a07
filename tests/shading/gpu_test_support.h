// Shared fixture of the GPU shading tests: one harness (device) for the
// whole executable, created by the first suite and released at exit; test
// programs are read from tests/shading/programs and compiled once each.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "compute_harness.h"
#include "scene/scene.h"

// The text of tests/shading/programs/<file>.
std::string test_program_source(const std::string& file);

class GpuTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    // Fails the test when the validation layer reported anything since the
    // previous test ended (device creation counts towards the first test).
    void TearDown() override;

    // Compiles tests/shading/programs/<file> with `bindings` storage buffers
    // (once per file and macro set).
    static size_t program(const std::string& file, uint32_t bindings,
                          const std::vector<std::string>& macros = {});
    static ComputeHarness& gpu() { return *harness_; }

    // A device buffer holding `values`.
    template <class T>
    static std::unique_ptr<GpuBuffer> upload(const std::vector<T>& values) {
        auto buffer = std::make_unique<GpuBuffer>(gpu(), values.size() * sizeof(T));
        buffer->write(values);
        return buffer;
    }
    // The albedo tables of binding 4 as the renderer uploads them.
    static std::unique_ptr<GpuBuffer> upload_shading_tables();
    // The scene's texture atlas as the renderer uploads it: texel data
    // (whole words), directory (with `extra` entries after the scene's) and
    // sRGB table.
    struct Atlas {
        std::unique_ptr<GpuBuffer> data, entries, srgb;
    };
    static Atlas upload_atlas(const Scene& scene, const std::vector<AtlasEntry>& extra = {});

    static constexpr uint32_t kGroupSize = 64;
    static uint32_t groups_for(uint32_t threads) { return (threads + kGroupSize - 1) / kGroupSize; }

private:
    static std::unique_ptr<ComputeHarness> harness_;
    static std::map<std::string, size_t> programs_;
    static uint32_t messagesSeen_;
};
