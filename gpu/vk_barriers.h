// Pipeline barriers between the transfers that fill or read device buffers
// and the shaders and acceleration-structure builds that use them. Every
// upload and read-back records them, so uploads, tracing, filtering and
// read-back can share one command buffer instead of relying on fence waits
// between submissions.
#pragma once

#include <vulkan/vulkan.h>

// Transfer writes (copies, fills) become visible to later ray-tracing and
// compute shaders and acceleration-structure builds.
void barrier_transfer_to_shader(VkCommandBuffer cmd);
// Earlier shader and build accesses complete, and their writes become
// visible, before later transfers read or overwrite the same memory.
void barrier_shader_to_transfer(VkCommandBuffer cmd);
// Transfer writes into host-visible memory become visible to host reads
// once the submission's fence has signalled.
void barrier_transfer_to_host(VkCommandBuffer cmd);
