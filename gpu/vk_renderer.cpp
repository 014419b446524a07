#include "gpu/vk_renderer.h"

VkRenderer::VkRenderer() = default;

VkRenderer::~VkRenderer() { destroy(); }

void VkRenderer::destroy() {}
