// Scene tables, light records, the environment block, the atlas and the
// framebuffers, and their release.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

#include "scene/render_output.h"
#include "gpu/gpu_records.h"
#include "gpu/vk_barriers.h"
#include "gpu/vk_check.h"
#include "gpu/vk_renderer.h"
#include "scene/ess_lut.h"
#include "scene/scene.h"

namespace {

constexpr VkDeviceSize kPlaceholderBytes = 4;
constexpr VkDeviceSize kEmptyAtlasEntryBytes = sizeof(AtlasEntry);
constexpr VkDeviceSize kAccumTexelBytes = 16;  // 4 floats or 4 int32 per render pixel
constexpr VkDeviceSize kOutputTexelBytes = 16;
constexpr VkDeviceSize kRgba8TexelBytes = 4;
constexpr VkDeviceSize kDepthTexelBytes = 4;
constexpr VkDeviceSize kNormalTexelBytes = 12;
constexpr VkDeviceSize kObjectIdTexelBytes = 4;
constexpr VkDeviceSize kSampleBytes = 16;
constexpr double kBytesPerMiB = 1048576.0;
constexpr VkDeviceSize kBytesPerKiB = 1024;
const uint8_t kZeroBytes[sizeof(AtlasEntry)] = {};

constexpr VkMemoryPropertyFlags kHostVisible =
    VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT | VK_MEMORY_PROPERTY_HOST_COHERENT_BIT;

template <typename T>
VkDeviceSize byte_size(const std::vector<T>& v) {
    return static_cast<VkDeviceSize>(v.size()) * sizeof(T);
}

// Render size of one axis, refusing sizes whose pixel products would not fit
// the 32-bit arithmetic of the shaders and the push block.
int32_t render_extent(uint32_t size, uint32_t overscan, uint32_t quality, const char* axis) {
    const uint64_t extent = (static_cast<uint64_t>(size) + 2ull * overscan) * quality;
    if (extent == 0 || size == 0)
        throw std::runtime_error(std::string("Render ") + axis + " is empty");
    if (extent > static_cast<uint64_t>(std::numeric_limits<int32_t>::max()))
        throw std::runtime_error(std::string("Render ") + axis + " " + std::to_string(extent) +
                                 " is too large");
    return static_cast<int32_t>(extent);
}

}  // namespace

void VkRenderer::checkBindableSize(const char* name, VkDeviceSize size) const {
    if (size <= maxStorageBufferRange) return;
    char text[256];
    std::snprintf(text, sizeof(text),
                  "Buffer %s needs %" PRIu64 " bytes, more than this device's storage-buffer "
                  "limit of %" PRIu64 " bytes",
                  name, static_cast<uint64_t>(size), static_cast<uint64_t>(maxStorageBufferRange));
    throw std::runtime_error(text);
}

void VkRenderer::createBoundBuffer(AllocatedBuffer& member, const char* name, VkDeviceSize size,
                                   const void* data, VkDeviceSize dataSize,
                                   VkBufferUsageFlags extraUsage) {
    checkBindableSize(name, size);
    // Transfer-source usage lets every scene table be read back for
    // inspection (tests, debugging tools); it costs nothing on the GPU.
    member = createDeviceBuffer(
        size, VK_BUFFER_USAGE_STORAGE_BUFFER_BIT | VK_BUFFER_USAGE_TRANSFER_SRC_BIT | extraUsage);
    if (dataSize > 0) uploadBuffer(member, data, dataSize);
}

void VkRenderer::createPlaceholder(AllocatedBuffer& member, const char* name) {
    createBoundBuffer(member, name, kPlaceholderBytes, kZeroBytes, kPlaceholderBytes);
}

void VkRenderer::createFramebuffers() {
    const VkDeviceSize R = static_cast<VkDeviceSize>(renderWidth) * renderHeight;
    const VkDeviceSize P = static_cast<VkDeviceSize>(outputWidth) * outputHeight;
    const VkDeviceSize samples =
        kSampleBytes * samplesPerDispatch * static_cast<VkDeviceSize>(tileSize) * tileSize;
    if (samples == 0) throw std::runtime_error("samplesPerDispatch and tileSize must be positive");
    // Every bound framebuffer is checked before any is created, so a render
    // size the device cannot bind fails without leaving half a set behind.
    checkBindableSize("eyeAccumBuffer", kAccumTexelBytes * R);
    checkBindableSize("lightAccumBuffer", kAccumTexelBytes * R);
    checkBindableSize("workBuffer", kAccumTexelBytes * R);
    checkBindableSize("outputBuffer", kOutputTexelBytes * P);
    checkBindableSize("outputRgba8Buffer", kRgba8TexelBytes * P);
    checkBindableSize("sampleBuffer", samples);
    checkBindableSize("aovDepthBuffer", kDepthTexelBytes * P);
    checkBindableSize("aovNormalBuffer", kNormalTexelBytes * P);
    checkBindableSize("aovObjectIdBuffer", kObjectIdTexelBytes * P);

    const VkBufferUsageFlags storage = VK_BUFFER_USAGE_STORAGE_BUFFER_BIT;
    const VkBufferUsageFlags accumUsage = storage | VK_BUFFER_USAGE_TRANSFER_SRC_BIT;
    const VkBufferUsageFlags readUsage = storage | VK_BUFFER_USAGE_TRANSFER_SRC_BIT;
    eyeAccumBuffer = createDeviceBuffer(kAccumTexelBytes * R, accumUsage);
    lightAccumBuffer = createDeviceBuffer(kAccumTexelBytes * R, accumUsage);
    workBuffer = createDeviceBuffer(kAccumTexelBytes * R, storage);
    outputBuffer = createDeviceBuffer(kOutputTexelBytes * P, readUsage);
    outputStaging = createReadbackBuffer(kOutputTexelBytes * P);
    void* mapped = nullptr;
    VK_CHECK(vmaMapMemory(allocator, outputStaging.allocation, &mapped));
    outputMapped = static_cast<float*>(mapped);
    outputRgba8Buffer = createDeviceBuffer(kRgba8TexelBytes * P, readUsage);
    outputRgba8Staging = createReadbackBuffer(kRgba8TexelBytes * P);
    sampleBuffer = createDeviceBuffer(samples, storage);
    aovDepthBuffer = createDeviceBuffer(kDepthTexelBytes * P, readUsage);
    aovNormalBuffer = createDeviceBuffer(kNormalTexelBytes * P, readUsage);
    aovObjectIdBuffer = createDeviceBuffer(kObjectIdTexelBytes * P, readUsage);
    aovStaging = createReadbackBuffer(kNormalTexelBytes * P);
}

void VkRenderer::destroyFramebuffers() {
    destroyBuffer(eyeAccumBuffer);
    destroyBuffer(lightAccumBuffer);
    destroyBuffer(sampleBuffer);
    destroyBuffer(workBuffer);
    destroyBuffer(outputBuffer);
    if (outputMapped) vmaUnmapMemory(allocator, outputStaging.allocation);
    outputMapped = nullptr;
    destroyBuffer(outputStaging);
    destroyBuffer(outputRgba8Buffer);
    destroyBuffer(outputRgba8Staging);
    destroyBuffer(aovDepthBuffer);
    destroyBuffer(aovNormalBuffer);
    destroyBuffer(aovObjectIdBuffer);
    destroyBuffer(aovStaging);
}

void VkRenderer::createBuffers(const Scene& scene, const RenderOutput& output,
                               const std::vector<uint16_t>& essLut) {
    // A repeated call replaces what an earlier one made instead of leaking it.
    destroyFramebuffers();
    destroyTableBuffers();

    // 1-2. Render sizes and framebuffers.
    setFramebufferShape(output);
    createFramebuffers();

    // 3. Packed scene tables, skipped when empty.
    if (!scene.scene_params.empty())
        createBoundBuffer(sceneParamsBuffer, "sceneParamsBuffer", byte_size(scene.scene_params),
                          scene.scene_params.data(), byte_size(scene.scene_params));
    if (!scene.gpu_materials.empty())
        createBoundBuffer(materialBuffer, "materialBuffer", byte_size(scene.gpu_materials),
                          scene.gpu_materials.data(), byte_size(scene.gpu_materials));
    // The albedo tables of binding 4: the host's ESS table with the layer
    // and inside-interface tables appended at their fixed offsets.
    if (!essLut.empty()) {
        const std::vector<uint16_t> tables = binding4_table(essLut);
        createBoundBuffer(essLutBuffer, "essLutBuffer", byte_size(tables), tables.data(), byte_size(tables));
    }

    // 4. Lights.
    createLightBuffers(scene);

    // 5. Environment block.
    const std::vector<uint32_t> env = build_env_block(scene);
    createBoundBuffer(envCdfBuffer, "envCdfBuffer", byte_size(env), env.data(), byte_size(env));
    std::printf("Envmap CDF buffer: %zu KB\n", static_cast<size_t>(byte_size(env) / kBytesPerKiB));

    // 6. Atlas and sRGB table, with placeholders for empty sources.
    if (scene.atlas_data.empty()) {
        createPlaceholder(atlasDataBuffer, "atlasDataBuffer");
    } else {
        const VkDeviceSize bytes = byte_size(scene.atlas_data);
        createBoundBuffer(atlasDataBuffer, "atlasDataBuffer", (bytes + 3) / 4 * 4,
                          scene.atlas_data.data(), bytes);
    }
    if (scene.atlas_entries.empty())
        createBoundBuffer(atlasEntryBuffer, "atlasEntryBuffer", kEmptyAtlasEntryBytes, kZeroBytes,
                          kEmptyAtlasEntryBytes);
    else
        createBoundBuffer(atlasEntryBuffer, "atlasEntryBuffer", byte_size(scene.atlas_entries),
                          scene.atlas_entries.data(), byte_size(scene.atlas_entries));
    if (scene.srgb_lut.empty())
        createPlaceholder(srgbLutBuffer, "srgbLutBuffer");
    else
        createBoundBuffer(srgbLutBuffer, "srgbLutBuffer", byte_size(scene.srgb_lut),
                          scene.srgb_lut.data(), byte_size(scene.srgb_lut));

    // 7.
    const double accumBytes = 32.0 * renderWidth * renderHeight;
    std::printf("Buffers: render %dx%d (%.1f MB eye+light), sample_buf %.1f MB\n", renderWidth,
                renderHeight, accumBytes / kBytesPerMiB,
                static_cast<double>(sampleBuffer.size) / kBytesPerMiB);
}

void VkRenderer::destroyTableBuffers() {
    for (AllocatedBuffer* b : {&materialBuffer, &sceneParamsBuffer, &essLutBuffer, &emissiveBuffer,
                               &emissiveTriCdfBuffer, &lightCdfBuffer, &envCdfBuffer,
                               &atlasDataBuffer, &atlasEntryBuffer, &srgbLutBuffer})
        destroyBuffer(*b);
}

void VkRenderer::createLightBuffers(const Scene& scene) {
    destroyBuffer(emissiveBuffer);
    destroyBuffer(emissiveTriCdfBuffer);
    destroyBuffer(lightCdfBuffer);
    if (scene.emissive_instances.empty()) {
        createPlaceholder(emissiveBuffer, "emissiveBuffer");
        createPlaceholder(emissiveTriCdfBuffer, "emissiveTriCdfBuffer");
    } else {
        const std::vector<GpuEmissive> records = build_gpu_emissives(scene);
        createBoundBuffer(emissiveBuffer, "emissiveBuffer", byte_size(records), records.data(),
                          byte_size(records));
        // The triangle CDF of every light must be readable in full even when
        // the host-side table is short.
        uint64_t triangles = 0;
        for (const GpuEmissive& r : records) triangles += r.triangle_count;
        std::vector<uint32_t> triCdf = scene.emissive_tri_cdf;
        if (triCdf.size() < triangles) triCdf.resize(triangles, 0xFFFFFFFFu);
        if (triCdf.empty())
            createPlaceholder(emissiveTriCdfBuffer, "emissiveTriCdfBuffer");
        else
            createBoundBuffer(emissiveTriCdfBuffer, "emissiveTriCdfBuffer", byte_size(triCdf),
                              triCdf.data(), byte_size(triCdf));
    }
    if (scene.light_cdf.empty())
        createPlaceholder(lightCdfBuffer, "lightCdfBuffer");
    else
        createBoundBuffer(lightCdfBuffer, "lightCdfBuffer", byte_size(scene.light_cdf),
                          scene.light_cdf.data(), byte_size(scene.light_cdf));
}

void VkRenderer::reuploadLightBuffers(const Scene& scene) {
    vkDeviceWaitIdle(device);
    createLightBuffers(scene);
}

void VkRenderer::resizeFramebuffers(const RenderOutput& output) {
    const int32_t width = render_extent(output.width, output.overscan, output.quality, "width");
    const int32_t height = render_extent(output.height, output.overscan, output.quality, "height");
    if (width == renderWidth && height == renderHeight) return;
    vkDeviceWaitIdle(device);
    destroyFramebuffers();
    setFramebufferShape(output);
    createFramebuffers();
    // The set still names the released buffers; rewriting it here means no
    // caller can dispatch through stale descriptors.
    if (descriptorSet != VK_NULL_HANDLE) updateDescriptors();
}

void VkRenderer::setFramebufferShape(const RenderOutput& output) {
    renderWidth = render_extent(output.width, output.overscan, output.quality, "width");
    renderHeight = render_extent(output.height, output.overscan, output.quality, "height");
    outputWidth = render_extent(output.width, 0, 1, "output width");
    outputHeight = render_extent(output.height, 0, 1, "output height");
    renderQuality = output.quality;
    renderOverscan = output.overscan;
}

void VkRenderer::requireFramebuffers() const {
    if (eyeAccumBuffer.buffer == VK_NULL_HANDLE || lightAccumBuffer.buffer == VK_NULL_HANDLE)
        throw std::runtime_error("No framebuffers: createBuffers has not run");
}

void VkRenderer::clearFramebuffers() {
    requireFramebuffers();
    VkCommandBuffer cmd = beginSingleTimeCommands();
    barrier_shader_to_transfer(cmd);
    vkCmdFillBuffer(cmd, eyeAccumBuffer.buffer, 0, VK_WHOLE_SIZE, 0);
    vkCmdFillBuffer(cmd, lightAccumBuffer.buffer, 0, VK_WHOLE_SIZE, 0);
    barrier_transfer_to_shader(cmd);
    endSingleTimeCommands(cmd);
}

void VkRenderer::readbackFramebuffers(std::vector<float>& eye, std::vector<int32_t>& light) {
    requireFramebuffers();
    const VkDeviceSize half = eyeAccumBuffer.size;
    AllocatedBuffer staging = createReadbackBuffer(2 * half);
    try {
        VkCommandBuffer cmd = beginSingleTimeCommands();
        barrier_shader_to_transfer(cmd);
        VkBufferCopy eyeRegion{0, 0, half};
        VkBufferCopy lightRegion{0, half, half};
        vkCmdCopyBuffer(cmd, eyeAccumBuffer.buffer, staging.buffer, 1, &eyeRegion);
        vkCmdCopyBuffer(cmd, lightAccumBuffer.buffer, staging.buffer, 1, &lightRegion);
        barrier_transfer_to_host(cmd);
        endSingleTimeCommands(cmd);
        void* mapped = nullptr;
        VK_CHECK(vmaMapMemory(allocator, staging.allocation, &mapped));
        eye.resize(half / sizeof(float));
        light.resize(half / sizeof(int32_t));
        std::memcpy(eye.data(), mapped, half);
        std::memcpy(light.data(), static_cast<const uint8_t*>(mapped) + half, half);
        vmaUnmapMemory(allocator, staging.allocation);
    } catch (...) {
        destroyBuffer(staging);
        throw;
    }
    destroyBuffer(staging);
}

void VkRenderer::uploadFramebuffers(const std::vector<float>& eye,
                                    const std::vector<int32_t>& light) {
    requireFramebuffers();
    const VkDeviceSize half = eyeAccumBuffer.size;
    // Both lists must hold exactly one accumulation each; anything else would
    // read past their ends or leave stale texels behind.
    if (byte_size(eye) != half || byte_size(light) != half)
        throw std::runtime_error("uploadFramebuffers: expected " + std::to_string(half / 4) +
                                 " values per accumulation, got " + std::to_string(eye.size()) +
                                 " and " + std::to_string(light.size()));
    AllocatedBuffer staging =
        createBuffer(2 * half, VK_BUFFER_USAGE_TRANSFER_SRC_BIT, kHostVisible);
    try {
        void* mapped = nullptr;
        VK_CHECK(vmaMapMemory(allocator, staging.allocation, &mapped));
        std::memcpy(mapped, eye.data(), half);
        std::memcpy(static_cast<uint8_t*>(mapped) + half, light.data(), half);
        vmaUnmapMemory(allocator, staging.allocation);
        VkCommandBuffer cmd = beginSingleTimeCommands();
        barrier_shader_to_transfer(cmd);
        VkBufferCopy eyeRegion{0, 0, half};
        VkBufferCopy lightRegion{half, 0, half};
        vkCmdCopyBuffer(cmd, staging.buffer, eyeAccumBuffer.buffer, 1, &eyeRegion);
        vkCmdCopyBuffer(cmd, staging.buffer, lightAccumBuffer.buffer, 1, &lightRegion);
        barrier_transfer_to_shader(cmd);
        endSingleTimeCommands(cmd);
    } catch (...) {
        destroyBuffer(staging);
        throw;
    }
    destroyBuffer(staging);
}

void VkRenderer::destroySceneResources() {
    if (device == VK_NULL_HANDLE) return;
    vkDeviceWaitIdle(device);
    if (descriptorPool != VK_NULL_HANDLE) vkDestroyDescriptorPool(device, descriptorPool, nullptr);
    descriptorPool = VK_NULL_HANDLE;
    descriptorSet = VK_NULL_HANDLE;
    destroyBuffer(descriptorFallback);
    destroyBuffer(addressTableBuffer);
    destroyGeometry();
    destroyTableBuffers();
    destroyFramebuffers();
}
