// Shared pieces of the GPU tests: a renderer opened on the first ray-tracing
// device with validation on, whose validation messages fail the test, and
// small helpers to read device buffers back.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "gpu/vk_renderer.h"

// A renderer with validation, synchronisation validation included, enabled.
// Every test that uses it ends with the
// renderer destroyed and no validation warning or error reported.
class GpuTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    template <typename T>
    std::vector<T> download(const AllocatedBuffer& buffer) {
        std::vector<T> out(buffer.size / sizeof(T));
        renderer->downloadBuffer(buffer, out.data(), out.size() * sizeof(T));
        return out;
    }

    std::unique_ptr<VkRenderer> renderer;
};

// The value of type T at byte `offset` of a read-back record.
template <typename T>
T at(const std::vector<uint8_t>& bytes, size_t offset) {
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

// Directory of the repository (for shader sources and shared headers).
std::string source_dir();

// Runs `fn` with standard output captured and returns what it printed.
template <typename Fn>
std::string capture_stdout(Fn&& fn) {
    ::testing::internal::CaptureStdout();
    try {
        fn();
    } catch (...) {
        std::fflush(stdout);
        ::testing::internal::GetCapturedStdout();
        throw;
    }
    std::fflush(stdout);
    return ::testing::internal::GetCapturedStdout();
}
