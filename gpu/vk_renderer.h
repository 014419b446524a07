// The per-GPU renderer: owns every Vulkan object of one device. Its life
// cycle is explicit (init, createPipelines, buildAccelerationStructures,
// createBuffers, createDescriptors, destroySceneResources, destroy); every
// release nulls its handle so teardown can be repeated safely.
//
// Source files by concern: vk_device.cpp (bring-up and teardown),
// vk_buffers.cpp (buffers and one-shot commands), vk_scene_buffers.cpp
// (scene, light and framebuffer buffers), vk_accel.cpp (acceleration
// structures), vk_shaders.cpp (shader modules), vk_pipelines.cpp (pipelines
// and shader binding tables), vk_descriptors.cpp (layouts and descriptor
// set), vk_dispatch.cpp (render passes and read-back), vk_timing.cpp
// (per-pass timestamp queries). Host-side packing of the records the GPU
// reads lives in gpu_records.h.
#pragma once

#include <vk_mem_alloc.h>
#include <vulkan/vulkan.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "gpu/instance_merge.h"
#include "gpu/pass_timings.h"
#include "scene/vitrel_export.h"
#include "shaders/gpu_layout.h"

struct Scene;
struct RenderOutput;
struct GeometryPack;
struct MaterialExprData;

// A buffer and its memory. Empty means {null, null, 0}.
struct AllocatedBuffer {
    VkBuffer buffer = VK_NULL_HANDLE;
    VmaAllocation allocation = nullptr;
    VkDeviceSize size = 0;  // bytes requested at creation
};

// Where one mesh starts in the shared geometry buffers, in elements of each
// buffer. An absent per-vertex attribute is 0xFFFFFFFF.
struct MeshOffsets {
    uint32_t vertexOffset = 0;
    uint32_t indexOffset = 0;
    uint32_t faceOffset = 0;
    uint32_t normalOffset = 0;
    uint32_t uvOffset = 0;
    uint32_t tangentOffset = 0;
};

// One bottom-level acceleration structure and its storage. A mesh without
// a single triangle keeps an empty entry.
struct BlasEntry {
    VkAccelerationStructureKHR handle = VK_NULL_HANDLE;
    AllocatedBuffer buffer;
};

// The BLAS of a run of instances that share a transform (instance_merge.h).
struct MergedBlas {
    MergedRun run;
    BlasEntry blas;
};

// How the host uses a mapped buffer: staging for uploads is written once in
// order; read-back memory is read, possibly out of order, and should be cached.
enum class HostAccess { SequentialWrite, RandomRead };
// The allocation request for mapped host memory with `required` properties.
VmaAllocationCreateInfo host_allocation_create_info(HostAccess access,
                                                    VkMemoryPropertyFlags required);

class VITREL_EXPORT VkRenderer {
public:
    VkRenderer();
    ~VkRenderer();
    VkRenderer(const VkRenderer&) = delete;
    VkRenderer& operator=(const VkRenderer&) = delete;

    // --- Device discovery and bring-up (vk_device.cpp) ---

    // Names of the GPUs that offer ray-tracing pipelines, acceleration
    // structures, ray queries and deferred host operations, in loader order.
    // A name's position is the index `init` takes. Empty when no instance
    // can be created.
    static std::vector<std::string> enumerateRayTracingDevices();

    // Opens ray-tracing GPU number `deviceIndex` of that list. With
    // `enableValidation` the Khronos validation layer reports warnings and
    // errors through debugCallback. Enables only the features the device
    // reports; a device without a required one fails with a message naming
    // it (see vk_features.h). Throws std::runtime_error; nothing is
    // released on failure (call destroy).
    void init(bool enableValidation, int deviceIndex);
    void loadExtensionFunctions();

    // Releases everything this object owns, scene resources first, then the
    // device objects, the messenger and the instance. Also cleans up after a
    // failed init; safe to call twice.
    void destroy();

    // Validation sink: warnings and errors go to stderr as "[Vulkan] <text>"
    // and are counted in `validationMessageCount` of the renderer passed as
    // user data. Always returns VK_FALSE.
    static VKAPI_ATTR VkBool32 VKAPI_CALL debugCallback(
        VkDebugUtilsMessageSeverityFlagBitsEXT severity, VkDebugUtilsMessageTypeFlagsEXT types,
        const VkDebugUtilsMessengerCallbackDataEXT* data, void* userData);

    // --- Buffers and one-shot commands (vk_buffers.cpp) ---

    // Host-visible requests (any with VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT)
    // get sequential-write memory for mapping; everything else prefers
    // device-local memory.
    AllocatedBuffer createBuffer(VkDeviceSize size, VkBufferUsageFlags usage,
                                 VkMemoryPropertyFlags properties);
    // Mapped, coherent, host-cached where possible: a copy destination the
    // host reads back from (HostAccess::RandomRead).
    AllocatedBuffer createReadbackBuffer(VkDeviceSize size);
    // Device-local, addressable, and a valid copy destination.
    AllocatedBuffer createDeviceBuffer(VkDeviceSize size, VkBufferUsageFlags usage);
    // Record a copy of the first `size` bytes between barriers: earlier
    // shader and build work on the buffers completes first, and the result
    // is visible to later shaders and builds (upload) or to the host after
    // the submission's fence (download). Lets uploads, tracing, filtering
    // and read-back share one command buffer.
    static void recordUpload(VkCommandBuffer cmd, VkBuffer staging, VkBuffer dst,
                             VkDeviceSize size);
    static void recordDownload(VkCommandBuffer cmd, VkBuffer src, VkBuffer staging,
                               VkDeviceSize size);
    // Staged synchronous copy of `size` bytes (size <= dst.size).
    void uploadBuffer(AllocatedBuffer& dst, const void* data, VkDeviceSize size);
    void destroyBuffer(AllocatedBuffer& buffer);
    VkDeviceAddress getBufferAddress(VkBuffer buffer);
    VkCommandBuffer beginSingleTimeCommands();
    // Ends, submits, waits on `fence` and frees `cmd`.
    void endSingleTimeCommands(VkCommandBuffer cmd);
    // Synchronous copy of `size` bytes from the start of `src` to the host.
    // Used for read-back of any device buffer.
    void downloadBuffer(const AllocatedBuffer& src, void* data, VkDeviceSize size);

    // --- Scene, light and framebuffer buffers (vk_scene_buffers.cpp) ---

    // Uploads the packed scene (build_scene_buffer's derived fields), the
    // lights, the environment block and the atlas, and creates the
    // framebuffers for `output`. Every bound buffer is checked against the
    // device's storage-buffer range first; a buffer that does not fit fails
    // with its name, size and the limit.
    void createBuffers(const Scene& scene, const RenderOutput& output,
                       const std::vector<uint16_t>& essLut);
    // Emissive records, emissive triangle CDF and light CDF; 4-byte zero
    // placeholders when the scene has no lights.
    void createLightBuffers(const Scene& scene);
    // Replaces the three light buffers; bound descriptors must be refreshed.
    void reuploadLightBuffers(const Scene& scene);
    // Recreates the framebuffers when the render size changes (the
    // accumulation is lost); a new output size with the same render size
    // keeps everything, output size included. Once descriptors exist they
    // are rewritten here, so the set never names released buffers.
    void resizeFramebuffers(const RenderOutput& output);
    // Sets the render and output sizes, quality and overscan from `output`.
    void setFramebufferShape(const RenderOutput& output);
    // Zeroes both accumulation buffers.
    void clearFramebuffers();
    // Host copies of the two accumulations, 4 values per render pixel each;
    // uploadFramebuffers takes exactly that many values per list.
    void readbackFramebuffers(std::vector<float>& eye, std::vector<int32_t>& light);
    void uploadFramebuffers(const std::vector<float>& eye, const std::vector<int32_t>& light);
    // Waits for the device, then releases the descriptor pool, acceleration
    // structures and every scene buffer. Does nothing without a device.
    void destroySceneResources();

    // --- Acceleration structures (vk_accel.cpp) ---

    // Geometry buffers, one BLAS per mesh with triangles, the per-instance
    // lookup table and the TLAS. Validates instance mesh ids and makes
    // triangles with out-of-range indices degenerate (see pack_geometry).
    void buildAccelerationStructures(const Scene& scene);
    // Builds instanceBuffer, tlasBuffer and tlas; expects them released.
    void buildTLASFromInstances(const Scene& scene);
    // Replaces the TLAS after instances moved; BLAS and geometry stay.
    void rebuildTLAS(const Scene& scene);
    // Builds cpuBvhBuffer from the instances where traceCpuBvh applies;
    // releases it otherwise.
    void buildCpuBvh(const Scene& scene);
    // Rewrites the lookup table and face materials from the current
    // instances with the stored meshOffsets.
    void reuploadInstanceData(const Scene& scene);

    // --- Shader modules (vk_shaders.cpp) ---

    // Compiles GLSL for Vulkan 1.2 with includes resolved by FileIncluder
    // (virtualIncludes first, then `includeDir`). `kind` is a shaderc kind.
    VkShaderModule compileGlslToSpirv(const std::string& source, const std::string& fileName,
                                      int kind, const std::string& includeDir,
                                      const std::vector<std::string>& macros);
    VkShaderModule loadShaderModule(const std::string& path);
    VkShaderModule loadShaderModule(const uint32_t* code, size_t size);

    // --- Pipelines and shader binding tables (vk_pipelines.cpp) ---

    // Set and pipeline layouts, the material unit, the ray-tracing pipeline
    // (and its motion variant where the device has one) with its SBT, and the
    // compute pipelines. Compile mode when `shaderSrcDir` holds
    // "eye_path.rgen", else the precompiled programs of `shaderDir`.
    // `materialExprs` may be null. Throws std::runtime_error.
    void createPipelines(const Scene& scene, const std::string& shaderDir,
                         const std::string& shaderSrcDir,
                         const std::vector<MaterialExprData>* materialExprs);

    // --- Descriptors (vk_descriptors.cpp) ---

    // Descriptor pool and the one set; released by destroySceneResources.
    void createDescriptors();
    // Writes all 29 bindings from the current members, and the table of
    // the bound buffers' device addresses (BINDING_ADDRESSES) with them.
    // Call again whenever a bound buffer or the TLAS is replaced; it
    // uploads (waits for the queue), so not while a batch is recorded.
    void updateDescriptors();

    // --- Dispatch and read-back (vk_dispatch.cpp) ---

    // Adds samples firstSample .. firstSample + sampleCount - 1 to every
    // render pixel, one waited submission per tile row and sample pass;
    // `clear` zeroes both accumulations first.
    void renderBatch(const Scene& scene, const RenderOutput& output, int sampleCount,
                     int traceParam, int extraParam, int firstSample, bool clear);
    // The same for one rectangle of render pixels; never clears.
    void renderSingleTile(const Scene& scene, const RenderOutput& output, int x, int y, int w,
                          int h, int sampleCount, int traceParam, int extraParam,
                          int firstSample);
    // Post-processing chain; returns outputMapped (4 floats per output pixel),
    // valid until the next read-back or framebuffer change.
    float* readback(const RenderOutput& output, int totalSamples, bool linear);
    // The display chain plus quantisation; `dst` receives 4 bytes per output
    // pixel.
    void readbackUint8(const RenderOutput& output, int totalSamples, std::vector<uint8_t>& dst);
    // Depth, normal and object-id passes, one centre ray per output pixel.
    void computeAOVs(const RenderOutput& output);
    void readbackAOVs(const RenderOutput& output, std::vector<float>& depthPass,
                      std::vector<float>& normalPass, std::vector<int32_t>& objectIdPass);
    // renderBatch from sample 0 with a clear, then a linear read-back.
    float* render(const Scene& scene, const RenderOutput& output, int sampleCount, int traceParam,
                  int extraParam);

    // --- Per-pass GPU timing (vk_timing.cpp) ---

    // Whether the queue writes timestamps (valid bits and a tick period);
    // false before init.
    bool passTimingSupported() const;
    // Zeroes passTimings.
    void resetPassTimings();
    // Opens the timestamps of a command buffer that will record at most
    // `passes` passes: resets that many queries plus one, then writes the
    // first. Call right after beginSingleTimeCommands. Does nothing unless
    // passTiming is on and the queue has timestamps.
    void beginPassTimestamps(VkCommandBuffer cmd, uint32_t passes);
    // The timestamp that ends `pass`, the pass recorded last.
    void stampPass(VkCommandBuffer cmd, GpuPass pass);
    // After the submission's fence: adds the stamped passes' times to
    // passTimings.
    void collectPassTimestamps();

    // --- Device ---
    VkInstance instance = VK_NULL_HANDLE;
    VkDebugUtilsMessengerEXT debugMessenger = VK_NULL_HANDLE;
    VkPhysicalDevice physicalDevice = VK_NULL_HANDLE;
    VkDevice device = VK_NULL_HANDLE;
    VkQueue queue = VK_NULL_HANDLE;
    uint32_t queueFamily = 0xFFFFFFFFu;
    VmaAllocator allocator = nullptr;
    VkCommandPool commandPool = VK_NULL_HANDLE;
    VkFence fence = VK_NULL_HANDLE;
    bool hasFloatAtomics = false;
    bool hasMotionBlur = false;
    // One ray-generation invocation per tile pixel runs all samples of a
    // dispatch, starting the next as soon as a path ends; otherwise one
    // invocation per pixel and sample. Set by init for CPU devices, whose
    // SIMD lanes would idle until the longest path of their group ends; GPUs
    // keep the deeper launch, which they need to fill their cores. The
    // owner may change it at any time: images are the same bit for bit.
    bool sampleRegeneration = false;
    // Set by init for CPU devices; read by createPipelines, which then
    // builds the eye paths' compute program (eye_path.comp, ray queries)
    // and the ray-tracing pipeline only on devices with motion blur, for
    // moving scenes. Turning it off later selects the ray-tracing pipeline
    // where one exists. Images are the same bit for bit; lavapipe traces
    // the Cornell box about 1.13x faster so, and starts about 2 s sooner.
    bool computeEyePaths = false;
    // Set by the owner before buildAccelerationStructures: runs of still
    // instances that share a transform are traced through one BLAS each
    // (instance_merge.h). Images are the same but for which of two
    // coincident triangles a ray meets first.
    bool mergeStaticInstances = true;
    // Set by the owner before buildAccelerationStructures: with
    // computeEyePaths, the compute programs traverse a four-wide BVH built
    // on the host (scene/cpu_bvh.h) instead of the driver's acceleration
    // structure, except where moving instances are traced with motion blur.
    // Lavapipe's own tree made the trace pass up to 1.5 times longer.
    bool traceCpuBvh = true;
    // Set by the owner before createPipelines: whether the light-path
    // programs are created there. Otherwise createPipelines keeps their
    // SPIR-V (compile errors still surface there) and the first batch with
    // light tracing creates them: lavapipe translates a program at pipeline
    // creation, about 1.3 s of every process start for this one, which a
    // render without light tracing never runs.
    bool lightPathsAtPreparation = true;
    bool useMotionBlur = false;
    // PROGRAM_FEATURE_* bits the path programs were built with, set by
    // createPipelines from the scene's materials (program_features.h).
    uint32_t programFeatures = PROGRAM_FEATURES_ALL;

    PFN_vkCreateAccelerationStructureKHR vkCreateAccelerationStructureKHR = nullptr;
    PFN_vkDestroyAccelerationStructureKHR vkDestroyAccelerationStructureKHR = nullptr;
    PFN_vkGetAccelerationStructureBuildSizesKHR vkGetAccelerationStructureBuildSizesKHR = nullptr;
    PFN_vkCmdBuildAccelerationStructuresKHR vkCmdBuildAccelerationStructuresKHR = nullptr;
    PFN_vkGetAccelerationStructureDeviceAddressKHR vkGetAccelerationStructureDeviceAddressKHR =
        nullptr;
    PFN_vkCmdWriteAccelerationStructuresPropertiesKHR
        vkCmdWriteAccelerationStructuresPropertiesKHR = nullptr;
    PFN_vkCmdCopyAccelerationStructureKHR vkCmdCopyAccelerationStructureKHR = nullptr;
    PFN_vkCreateRayTracingPipelinesKHR vkCreateRayTracingPipelinesKHR = nullptr;
    PFN_vkGetRayTracingShaderGroupHandlesKHR vkGetRayTracingShaderGroupHandlesKHR = nullptr;
    PFN_vkCmdTraceRaysKHR vkCmdTraceRaysKHR = nullptr;

    VkPhysicalDeviceRayTracingPipelinePropertiesKHR rtPipelineProperties{};
    // Largest range one storage-buffer descriptor may cover on this device.
    VkDeviceSize maxStorageBufferRange = 0;
    // Required alignment of acceleration-structure scratch addresses.
    VkDeviceSize scratchAlignment = 1;
    // Scratch memory one submission of BLAS builds may use; meshes are built
    // in as few submissions as this allows. 0 builds one mesh per submission.
    VkDeviceSize blasScratchBudget = VkDeviceSize{64} << 20;
    // Warnings and errors reported by the validation layer so far.
    std::atomic<uint32_t> validationMessageCount{0};

    // Set by the owner before init: with validation on, also check the
    // ordering of every access (synchronisation validation); hazards count
    // as validation messages. Slow; meant for tests and debugging.
    bool synchronizationValidation = false;

    // Set by the owner before init; kept across scenes.
    uint32_t samplesPerDispatch = 8;  // most samples one dispatch may take
    uint32_t tileSize = 256;          // edge of a render tile in framebuffer pixels

    // Set by the owner at any time; apply from the next submission on.
    // passTiming brackets every pass with timestamp queries and adds its GPU
    // time to passTimings (off: one test per pass, no queries).
    // samplerSeed selects the scrambling of the trace passes' sampler; 0 is
    // the default sequence.
    bool passTiming = false;
    uint32_t samplerSeed = 0;
    // GPU time per pass since the last resetPassTimings.
    GpuPassTimings passTimings;

    // --- Acceleration structures and geometry ---
    std::vector<BlasEntry> blasList;
    std::vector<MergedBlas> mergedBlasList;
    VkAccelerationStructureKHR tlas = VK_NULL_HANDLE;
    AllocatedBuffer tlasBuffer;
    AllocatedBuffer instanceBuffer;
    std::vector<MeshOffsets> meshOffsets;
    AllocatedBuffer positionBuffer;
    AllocatedBuffer indexBuffer;
    AllocatedBuffer faceNormalBuffer;
    AllocatedBuffer normalBuffer;
    AllocatedBuffer uvBuffer;
    AllocatedBuffer tangentBuffer;
    AllocatedBuffer instanceInfoBuffer;
    AllocatedBuffer faceMaterialBuffer;
    // The host-built BVH block (GpuBvhHeader), or none; its address goes
    // into the address table's BINDING_TLAS entry.
    AllocatedBuffer cpuBvhBuffer;

    // --- Scene tables ---
    AllocatedBuffer sceneParamsBuffer;
    AllocatedBuffer materialBuffer;
    AllocatedBuffer essLutBuffer;
    AllocatedBuffer emissiveBuffer;
    AllocatedBuffer emissiveTriCdfBuffer;
    AllocatedBuffer lightCdfBuffer;
    AllocatedBuffer envCdfBuffer;
    AllocatedBuffer atlasDataBuffer;
    AllocatedBuffer atlasEntryBuffer;
    AllocatedBuffer srgbLutBuffer;

    // --- Framebuffers ---
    int32_t renderWidth = 0;
    int32_t renderHeight = 0;
    int32_t outputWidth = 0;
    int32_t outputHeight = 0;
    // The quality and overscan the framebuffers were laid out for. Read-outs
    // take these, not the host's settings: those may have changed since
    // (they apply at the next resize), and a larger quality would make the
    // downsample read past the working image.
    uint32_t renderQuality = 1;
    uint32_t renderOverscan = 0;
    AllocatedBuffer eyeAccumBuffer;
    AllocatedBuffer lightAccumBuffer;
    AllocatedBuffer sampleBuffer;
    AllocatedBuffer workBuffer;
    AllocatedBuffer outputBuffer;
    AllocatedBuffer outputStaging;
    float* outputMapped = nullptr;
    AllocatedBuffer outputRgba8Buffer;
    AllocatedBuffer outputRgba8Staging;
    AllocatedBuffer aovDepthBuffer;
    AllocatedBuffer aovNormalBuffer;
    AllocatedBuffer aovObjectIdBuffer;
    AllocatedBuffer aovStaging;

    // --- Pipelines, layouts and descriptors ---
    VkPipeline rtPipeline = VK_NULL_HANDLE;
    VkPipeline rtPipelineMotion = VK_NULL_HANDLE;
    VkPipeline filterPipeline = VK_NULL_HANDLE;
    VkPipeline lightPathPipeline = VK_NULL_HANDLE;
    VkPipeline eyePathComputePipeline = VK_NULL_HANDLE;  // only with computeEyePaths
    VkPipeline lightPathMotionPipeline = VK_NULL_HANDLE;
    // SPIR-V of the light-path programs until their pipelines exist
    // (lightPathsAtPreparation); the motion form is empty without motion blur.
    std::vector<uint32_t> lightPathWords;
    std::vector<uint32_t> lightPathMotionWords;
    VkPipeline postprocessPipeline = VK_NULL_HANDLE;
    VkPipeline downsamplePipeline = VK_NULL_HANDLE;
    VkPipeline quantizePipeline = VK_NULL_HANDLE;
    VkPipeline aovPipeline = VK_NULL_HANDLE;
    VkDescriptorSetLayout descriptorSetLayout = VK_NULL_HANDLE;
    VkPipelineLayout pipelineLayout = VK_NULL_HANDLE;
    VkPipelineLayout computePipelineLayout = VK_NULL_HANDLE;  // same object as pipelineLayout
    VkDescriptorPool descriptorPool = VK_NULL_HANDLE;
    VkDescriptorSet descriptorSet = VK_NULL_HANDLE;
    // Bound in place of a scene table that was never created (an empty
    // scene has no parameter block or materials); released with the pool.
    AllocatedBuffer descriptorFallback;
    // BINDING_ADDRESSES: the device address of every bound buffer, written
    // by updateDescriptors; released with the pool.
    AllocatedBuffer addressTableBuffer;
    AllocatedBuffer sbtBuffer;
    AllocatedBuffer sbtBufferMotion;
    VkStridedDeviceAddressRegionKHR raygenRegion{};
    VkStridedDeviceAddressRegionKHR missRegion{};
    VkStridedDeviceAddressRegionKHR hitRegion{};
    VkStridedDeviceAddressRegionKHR callableRegion{};
    VkStridedDeviceAddressRegionKHR raygenRegionMotion{};
    VkStridedDeviceAddressRegionKHR missRegionMotion{};
    VkStridedDeviceAddressRegionKHR hitRegionMotion{};
    VkStridedDeviceAddressRegionKHR callableRegionMotion{};

    // Include name -> source text served before the include directory;
    // "material_eval.glsl" holds the generated material unit.
    std::unordered_map<std::string, std::string> virtualIncludes;

private:
    void destroyDeviceObjects();
    // Releases the timestamp query pool.
    void destroyPassTiming();
    // Timestamp queries: the pool (grown on demand), the stamps written into
    // the command buffer being recorded after its first, and the pass each
    // of those ends.
    VkQueryPool timestampPool = VK_NULL_HANDLE;
    uint32_t timestampCapacity = 0;
    uint32_t timestampsOpen = 0;
    std::vector<GpuPass> stampedPasses;
    double timestampPeriodNs = 0.0;
    uint64_t timestampMask = 0;
    AllocatedBuffer allocateBuffer(const VkBufferCreateInfo& bufferInfo,
                                   const VmaAllocationCreateInfo& allocInfo);
    // Descriptor-set layout and the one pipeline layout every pipeline uses.
    void createLayouts();
    // Pipelines, layouts, SBTs and their regions; safe to call twice.
    void destroyPipelines();
    // A ray-tracing pipeline from four modules (ray generation, eye miss,
    // shadow miss, closest hit), which are released here, also on failure.
    // Ray generation (modules[0]) is specialised with programFeatures.
    VkPipeline createRayTracingPipeline(VkShaderModule (&modules)[4], bool motion);
    // The SBT of `pipeline`, its base aligned to shaderGroupBaseAlignment.
    void buildShaderBindingTable(VkPipeline pipeline, AllocatedBuffer& sbt,
                                 VkStridedDeviceAddressRegionKHR& raygen,
                                 VkStridedDeviceAddressRegionKHR& miss,
                                 VkStridedDeviceAddressRegionKHR& hit,
                                 VkStridedDeviceAddressRegionKHR& callable);
    // Creates the light-path pipelines from lightPathWords where they do
    // not exist yet.
    void ensureLightPathPipelines();
    // A compute pipeline from `module`, which is released here;
    // `specialization` may be null.
    VkPipeline createComputePipeline(VkShaderModule module,
                                     const VkSpecializationInfo* specialization = nullptr);
    // Creates the twelve framebuffers for the stored render sizes.
    void createFramebuffers();
    void destroyFramebuffers();
    // Throws when the accumulation buffers do not exist.
    void requireFramebuffers() const;
    // Throws unless framebuffers, pipelines and the descriptor set exist.
    void requireRenderState() const;
    // requireRenderState, then the light-path pipelines when a pass with
    // these parameters traces light paths.
    void readyTracePass(int traceParam, int extraParam);
    // Samples one trace dispatch takes: samplesPerDispatch, at least 1 and at
    // most what the sample buffer holds per tile pixel.
    int samplesPerPass() const;
    // Throws when a buffer bound as one storage-buffer descriptor would
    // exceed the device's range limit.
    void checkBindableSize(const char* name, VkDeviceSize size) const;
    // Creates a storage buffer of `size` bytes into `member` (so it is owned
    // even if the upload fails) and uploads the first `dataSize` bytes.
    void createBoundBuffer(AllocatedBuffer& member, const char* name, VkDeviceSize size,
                           const void* data, VkDeviceSize dataSize,
                           VkBufferUsageFlags extraUsage = 0);
    // A 4-byte zero buffer standing in for an empty table.
    void createPlaceholder(AllocatedBuffer& member, const char* name);
    void destroyTableBuffers();
    // One BLAS per mesh with triangles, recorded into as few submissions as
    // the scratch budget allows.
    void buildBottomLevel(const GeometryPack& pack);
    // Records `count` acceleration-structure builds between the barriers that
    // order them after earlier uploads and before later ray queries, in one
    // waited submission.
    void submitAccelerationBuilds(uint32_t count,
                                  const VkAccelerationStructureBuildGeometryInfoKHR* builds,
                                  const VkAccelerationStructureBuildRangeInfoKHR* const* ranges);
    void destroyAccelerationStructures();
    void destroyGeometry();
    void uploadInstanceTables(const Scene& scene);
};
