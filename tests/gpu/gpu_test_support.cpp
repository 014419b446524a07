#include "gpu_test_support.h"

#include <cstdlib>

void GpuTest::SetUp() {
    renderer = std::make_unique<VkRenderer>();
    renderer->synchronizationValidation = true;
    renderer->init(true, 0);
}

void GpuTest::TearDown() {
    if (!renderer) return;
    renderer->destroy();
    EXPECT_EQ(renderer->validationMessageCount.load(), 0u)
        << "validation layer reported problems (see [Vulkan] lines above)";
}

std::string source_dir() {
    const char* dir = std::getenv("VITREL_SOURCE_DIR");
    return dir ? dir : VITREL_TEST_SOURCE_DIR;
}
