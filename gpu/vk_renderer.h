// The per-GPU renderer: owns every Vulkan object of one device. Its life
// cycle is explicit (init, createPipelines, buildAccelerationStructures,
// createBuffers, createDescriptors, destroySceneResources, destroy); every
// release nulls its handle so teardown can be repeated safely.
#pragma once

#include <cstdint>

#include "api/vitrel_export.h"

class VITREL_EXPORT VkRenderer {
public:
    VkRenderer();
    ~VkRenderer();
    VkRenderer(const VkRenderer&) = delete;
    VkRenderer& operator=(const VkRenderer&) = delete;

    // Releases everything the renderer holds; safe to call repeatedly.
    void destroy();

    uint32_t samplesPerDispatch = 8;  // most samples one dispatch may take
    uint32_t tileSize = 256;          // edge of a render tile in framebuffer pixels
};
