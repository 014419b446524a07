// Shared fixture of the GPU shading tests: one harness (device) for the
// whole executable, created by the first suite and released at exit; test
// programs are read from tests/shading/programs and compiled once each.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "compute_harness.h"

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

    static constexpr uint32_t kGroupSize = 64;
    static uint32_t groups_for(uint32_t threads) { return (threads + kGroupSize - 1) / kGroupSize; }

private:
    static std::unique_ptr<ComputeHarness> harness_;
    static std::map<std::string, size_t> programs_;
    static uint32_t messagesSeen_;
};
