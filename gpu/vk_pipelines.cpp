// Ray-tracing and compute pipelines and the shader binding tables. Only the
// two programs that see the scene's materials (ray generation and the light
// path pass) are ever compiled at run time; everything else is SPIR-V.
#include <shaderc/shaderc.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "codegen/material_codegen.h"
#include "gpu/program_features.h"
#include "gpu/sbt_layout.h"
#include "gpu/shader_compiler.h"
#include "gpu/shader_files.h"
#include "gpu/vk_check.h"
#include "gpu/vk_renderer.h"
#include "scene/scene.h"

namespace {

constexpr uint32_t kStageCount = 4;
constexpr uint32_t kGroupCount = 4;
constexpr uint32_t kMaxRecursionDepth = 1;
constexpr int kComputePipelines = 6;
constexpr int kComputePipelinesWithMotion = 8;

bool file_readable(const std::string& path) {
    std::ifstream in(path);
    return in.good();
}

// The specialization of the two path programs by `features`, which must
// outlive the pipeline creation.
VkSpecializationInfo feature_specialization(const uint32_t& features,
                                            VkSpecializationMapEntry& entry) {
    entry = {PROGRAM_FEATURES_CONSTANT_ID, 0, sizeof(uint32_t)};
    return {1, &entry, sizeof(uint32_t), &features};
}

}  // namespace

VkPipeline VkRenderer::createRayTracingPipeline(VkShaderModule (&modules)[4], bool motion) {
    const VkShaderStageFlagBits stageBits[kStageCount] = {
        VK_SHADER_STAGE_RAYGEN_BIT_KHR, VK_SHADER_STAGE_MISS_BIT_KHR,
        VK_SHADER_STAGE_MISS_BIT_KHR, VK_SHADER_STAGE_CLOSEST_HIT_BIT_KHR};
    VkPipelineShaderStageCreateInfo stages[kStageCount]{};
    for (uint32_t i = 0; i < kStageCount; ++i) {
        stages[i].sType = VK_STRUCTURE_TYPE_PIPELINE_SHADER_STAGE_CREATE_INFO;
        stages[i].stage = stageBits[i];
        stages[i].module = modules[i];
        stages[i].pName = "main";
    }
    VkSpecializationMapEntry entry{};
    const VkSpecializationInfo features = feature_specialization(programFeatures, entry);
    stages[0].pSpecializationInfo = &features;
    VkRayTracingShaderGroupCreateInfoKHR groups[kGroupCount]{};
    for (uint32_t i = 0; i < kGroupCount; ++i) {
        groups[i].sType = VK_STRUCTURE_TYPE_RAY_TRACING_SHADER_GROUP_CREATE_INFO_KHR;
        groups[i].type = VK_RAY_TRACING_SHADER_GROUP_TYPE_GENERAL_KHR;
        groups[i].generalShader = i;
        groups[i].closestHitShader = VK_SHADER_UNUSED_KHR;
        groups[i].anyHitShader = VK_SHADER_UNUSED_KHR;
        groups[i].intersectionShader = VK_SHADER_UNUSED_KHR;
    }
    groups[3].type = VK_RAY_TRACING_SHADER_GROUP_TYPE_TRIANGLES_HIT_GROUP_KHR;
    groups[3].generalShader = VK_SHADER_UNUSED_KHR;
    groups[3].closestHitShader = 3;

    VkRayTracingPipelineCreateInfoKHR info{};
    info.sType = VK_STRUCTURE_TYPE_RAY_TRACING_PIPELINE_CREATE_INFO_KHR;
    info.flags = motion ? VK_PIPELINE_CREATE_RAY_TRACING_ALLOW_MOTION_BIT_NV : 0;
    info.stageCount = kStageCount;
    info.pStages = stages;
    info.groupCount = kGroupCount;
    info.pGroups = groups;
    info.maxPipelineRayRecursionDepth = kMaxRecursionDepth;
    info.layout = pipelineLayout;
    VkPipeline pipeline = VK_NULL_HANDLE;
    const VkResult result = vkCreateRayTracingPipelinesKHR(
        device, VK_NULL_HANDLE, VK_NULL_HANDLE, 1, &info, nullptr, &pipeline);
    for (VkShaderModule& m : modules) {
        if (m != VK_NULL_HANDLE) vkDestroyShaderModule(device, m, nullptr);
        m = VK_NULL_HANDLE;
    }
    VK_CHECK(result);
    return pipeline;
}

void VkRenderer::buildShaderBindingTable(VkPipeline pipeline, AllocatedBuffer& sbt,
                                         VkStridedDeviceAddressRegionKHR& raygen,
                                         VkStridedDeviceAddressRegionKHR& miss,
                                         VkStridedDeviceAddressRegionKHR& hit,
                                         VkStridedDeviceAddressRegionKHR& callable) {
    const uint32_t h = rtPipelineProperties.shaderGroupHandleSize;
    const uint64_t base = rtPipelineProperties.shaderGroupBaseAlignment;
    const SbtLayout layout =
        compute_sbt_layout(h, rtPipelineProperties.shaderGroupHandleAlignment, base);
    std::vector<uint8_t> handles(static_cast<size_t>(kGroupCount) * h);
    VK_CHECK(vkGetRayTracingShaderGroupHandlesKHR(device, pipeline, 0, kGroupCount,
                                                  handles.size(), handles.data()));

    // A buffer's device address carries no promise of the base alignment
    // that trace calls require of every region, so the table is
    // over-allocated and starts at the first aligned address inside it.
    sbt = createDeviceBuffer(layout.total + base, VK_BUFFER_USAGE_SHADER_BINDING_TABLE_BIT_KHR);
    const VkDeviceAddress address = getBufferAddress(sbt.buffer);
    const VkDeviceAddress start = align_up(address, base);
    const size_t pad = static_cast<size_t>(start - address);
    std::vector<uint8_t> table(static_cast<size_t>(layout.total) + pad, 0);
    for (uint32_t g = 0; g < kGroupCount; ++g)
        std::memcpy(table.data() + pad + layout.groupOffset[g], handles.data() + g * h, h);
    uploadBuffer(sbt, table.data(), table.size());

    raygen = {start, layout.raygenSize, layout.raygenSize};
    miss = {start + layout.raygenSize, layout.handleStride, layout.missSize};
    hit = {start + layout.raygenSize + layout.missSize, layout.handleStride, layout.hitSize};
    callable = {0, 0, 0};
}

VkPipeline VkRenderer::createComputePipeline(VkShaderModule module,
                                             const VkSpecializationInfo* specialization) {
    VkComputePipelineCreateInfo info{};
    info.sType = VK_STRUCTURE_TYPE_COMPUTE_PIPELINE_CREATE_INFO;
    info.stage.sType = VK_STRUCTURE_TYPE_PIPELINE_SHADER_STAGE_CREATE_INFO;
    info.stage.stage = VK_SHADER_STAGE_COMPUTE_BIT;
    info.stage.module = module;
    info.stage.pName = "main";
    info.stage.pSpecializationInfo = specialization;
    info.layout = computePipelineLayout;
    VkPipeline pipeline = VK_NULL_HANDLE;
    const VkResult result =
        vkCreateComputePipelines(device, VK_NULL_HANDLE, 1, &info, nullptr, &pipeline);
    vkDestroyShaderModule(device, module, nullptr);
    VK_CHECK(result);
    return pipeline;
}

void VkRenderer::createPipelines(const Scene& scene, const std::string& shaderDir,
                                 const std::string& shaderSrcDir,
                                 const std::vector<MaterialExprData>* materialExprs) {
    namespace sf = shader_files;
    // A repeated preparation replaces the earlier pipelines instead of
    // leaking them.
    destroyPipelines();
    createLayouts();

    virtualIncludes[sf::kMaterialEvalInclude] = generate_material_eval_glsl(scene, materialExprs);
    programFeatures = program_features(scene, materialExprs);
    VkSpecializationMapEntry featureEntry{};
    const VkSpecializationInfo featureSpec = feature_specialization(programFeatures, featureEntry);
    std::vector<std::string> macros = {sf::kMacroHasMesh};
    if (hasFloatAtomics) macros.push_back(sf::kMacroHasFloatAtomics);
    std::vector<std::string> motionMacros = macros;
    motionMacros.push_back(sf::kMacroHasNvMotionBlur);

    const bool compileMode =
        !shaderSrcDir.empty() && file_readable(shaderSrcDir + sf::kEyePathRgenSource);
    const size_t materialCount = scene.materials.size();
    std::string rgenSource;
    if (compileMode) {
        std::printf("JIT compiling shaders (%zu materials, shader_dir=%s)...\n", materialCount,
                    shaderSrcDir.c_str());
        rgenSource = read_shader_source(shaderSrcDir + sf::kEyePathRgenSource);
    }
    auto rayGen = [&](bool motion) {
        if (compileMode)
            return compileGlslToSpirv(rgenSource, "eye_path.rgen", shaderc_raygen_shader,
                                      shaderSrcDir, motion ? motionMacros : macros);
        return loadShaderModule(shaderDir + (motion ? sf::kEyePathRgenMotion : sf::kEyePathRgen));
    };
    auto rayTracing = [&](bool motion) {
        VkShaderModule modules[kStageCount] = {};
        try {
            modules[0] = rayGen(motion);
            modules[1] = loadShaderModule(shaderDir +
                                          (motion ? sf::kEyePathRmissMotion : sf::kEyePathRmiss));
            modules[2] = loadShaderModule(shaderDir +
                                          (motion ? sf::kShadowRmissMotion : sf::kShadowRmiss));
            modules[3] = loadShaderModule(shaderDir +
                                          (motion ? sf::kEyePathRchitMotion : sf::kEyePathRchit));
        } catch (...) {
            for (VkShaderModule m : modules)
                if (m != VK_NULL_HANDLE) vkDestroyShaderModule(device, m, nullptr);
            throw;
        }
        return createRayTracingPipeline(modules, motion);
    };

    // With the eye paths' compute form the ray-tracing pipeline serves only
    // moving scenes on devices with motion blur. Elsewhere it is not
    // created: lavapipe translates its programs at creation, about 2 s of
    // every process start.
    const bool rayTracingPipeline = !computeEyePaths || hasMotionBlur;
    if (rayTracingPipeline) {
        rtPipeline = rayTracing(false);
        buildShaderBindingTable(rtPipeline, sbtBuffer, raygenRegion, missRegion, hitRegion,
                                callableRegion);
    }
    if (hasMotionBlur) {
        rtPipelineMotion = rayTracing(true);
        buildShaderBindingTable(rtPipelineMotion, sbtBufferMotion, raygenRegionMotion,
                                missRegionMotion, hitRegionMotion, callableRegionMotion);
    }

    const std::string suffix = hasFloatAtomics ? sf::kFloatAtomicsSuffix : sf::kNoFloatAtomicsSuffix;
    auto compute = [&](const std::string& path) {
        return createComputePipeline(loadShaderModule(path));
    };
    filterPipeline = compute(shaderDir + sf::kFilterBase + suffix);
    postprocessPipeline = compute(shaderDir + sf::kPostprocessBase + suffix);
    downsamplePipeline = compute(shaderDir + sf::kDownsample);
    quantizePipeline = compute(shaderDir + sf::kQuantize);
    aovPipeline = compute(shaderDir + sf::kAov);

    if (compileMode) {
        std::printf("JIT compiling light_path.comp with %zu material functions...\n",
                    materialCount);
        const std::string source = read_shader_source(shaderSrcDir + sf::kLightPathSource);
        auto lightPath = [&](const std::vector<std::string>& defines) {
            return compile_glsl_words(source, "light_path.comp", shaderc_compute_shader,
                                      shaderSrcDir, defines, &virtualIncludes);
        };
        lightPathWords = lightPath(macros);
        if (hasMotionBlur) lightPathMotionWords = lightPath(motionMacros);
    } else {
        lightPathWords = read_spirv_module(shaderDir + sf::kLightPathBase + suffix);
        if (hasMotionBlur)
            lightPathMotionWords = read_spirv_module(
                shaderDir + sf::kLightPathBase +
                (hasFloatAtomics ? sf::kMotionFloatAtomicsSuffix : sf::kMotionNoFloatAtomicsSuffix));
    }
    if (lightPathsAtPreparation) ensureLightPathPipelines();
    if (computeEyePaths) {
        eyePathComputePipeline = createComputePipeline(
            compileMode ? compileGlslToSpirv(read_shader_source(shaderSrcDir + sf::kEyePathCompSource),
                                             "eye_path.comp", shaderc_compute_shader, shaderSrcDir, macros)
                        : loadShaderModule(shaderDir + sf::kEyePathComp),
            &featureSpec);
    }
    const int lightPathPrograms = hasMotionBlur ? 2 : 1;
    const int computePipelines = (hasMotionBlur ? kComputePipelinesWithMotion : kComputePipelines) +
                                 (computeEyePaths ? 1 : 0) -
                                 (lightPathPipeline == VK_NULL_HANDLE ? lightPathPrograms : 0);
    if (rayTracingPipeline)
        std::printf("Created RT pipeline + %d compute pipelines\n", computePipelines);
    else
        std::printf("Created %d compute pipelines\n", computePipelines);
}

void VkRenderer::ensureLightPathPipelines() {
    VkSpecializationMapEntry entry{};
    const VkSpecializationInfo features = feature_specialization(programFeatures, entry);
    auto create = [&](std::vector<uint32_t>& words, VkPipeline& pipeline) {
        if (pipeline != VK_NULL_HANDLE || words.empty()) return;
        pipeline = createComputePipeline(
            loadShaderModule(words.data(), words.size() * sizeof(uint32_t)), &features);
        words.clear();
        words.shrink_to_fit();
    };
    create(lightPathWords, lightPathPipeline);
    create(lightPathMotionWords, lightPathMotionPipeline);
    if (lightPathPipeline == VK_NULL_HANDLE)
        throw std::runtime_error("Renderer not prepared: pipelines or descriptors missing");
}

void VkRenderer::destroyPipelines() {
    if (device == VK_NULL_HANDLE) return;
    for (VkPipeline* p : {&rtPipeline, &rtPipelineMotion, &filterPipeline, &lightPathPipeline,
                          &eyePathComputePipeline, &lightPathMotionPipeline, &postprocessPipeline,
                          &downsamplePipeline, &quantizePipeline, &aovPipeline}) {
        if (*p != VK_NULL_HANDLE) vkDestroyPipeline(device, *p, nullptr);
        *p = VK_NULL_HANDLE;
    }
    lightPathWords.clear();
    lightPathMotionWords.clear();
    if (pipelineLayout != VK_NULL_HANDLE) vkDestroyPipelineLayout(device, pipelineLayout, nullptr);
    pipelineLayout = VK_NULL_HANDLE;
    computePipelineLayout = VK_NULL_HANDLE;
    if (descriptorSetLayout != VK_NULL_HANDLE)
        vkDestroyDescriptorSetLayout(device, descriptorSetLayout, nullptr);
    descriptorSetLayout = VK_NULL_HANDLE;
    destroyBuffer(sbtBuffer);
    destroyBuffer(sbtBufferMotion);
    for (VkStridedDeviceAddressRegionKHR* r :
         {&raygenRegion, &missRegion, &hitRegion, &callableRegion, &raygenRegionMotion,
          &missRegionMotion, &hitRegionMotion, &callableRegionMotion})
        *r = {};
}
