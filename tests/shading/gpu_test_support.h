// Shared fixture of the GPU shading tests: one harness for the whole
// executable, test programs read from tests/shading/programs.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "compute_harness.h"

class GpuTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
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
    uint32_t messagesBefore_ = 0;
};
