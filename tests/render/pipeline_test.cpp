// Shader binding table arithmetic, the choice between precompiled and
// run-time compiled programs, and the descriptor set after a resize.
#include <filesystem>
#include <fstream>

#include "gpu/sbt_layout.h"
#include "render/render_test_support.h"

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

TEST(SbtLayout, RegionsFollowHandleAndBaseAlignment) {
    struct Case {
        uint64_t h, a, b, stride, raygen, miss, total, groups[4];
    };
    const Case cases[] = {
        {32, 32, 64, 32, 64, 64, 192, {0, 64, 96, 128}},
        {32, 32, 32, 32, 32, 64, 128, {0, 32, 64, 96}},
        {20, 16, 64, 32, 64, 64, 192, {0, 64, 96, 128}},
        {64, 64, 32, 64, 64, 128, 256, {0, 64, 128, 192}},
    };
    for (const Case& c : cases) {
        const SbtLayout l = compute_sbt_layout(c.h, c.a, c.b);
        SCOPED_TRACE(c.h);
        EXPECT_EQ(l.handleStride, c.stride);
        EXPECT_EQ(l.raygenSize, c.raygen);
        EXPECT_EQ(l.missSize, c.miss);
        EXPECT_EQ(l.hitSize, c.raygen);
        EXPECT_EQ(l.total, c.total);
        for (int g = 0; g < 4; ++g) EXPECT_EQ(l.groupOffset[g], c.groups[g]);
    }
}

TEST_F(RenderTest, EmptySourceDirLoadsPrecompiledProgramsWithAlignedTable) {
    Scene scene = plane_scene(-5, 3);
    const std::string printed =
        prepare(scene, small_output(8, 8, 0, 1), fresh_dir("empty_src").string());
    EXPECT_THAT(printed, Not(HasSubstr("JIT")));
    for (VkPipeline p : {renderer->rtPipeline, renderer->filterPipeline,
                         renderer->lightPathPipeline, renderer->postprocessPipeline,
                         renderer->downsamplePipeline, renderer->quantizePipeline,
                         renderer->aovPipeline})
        EXPECT_NE(p, VK_NULL_HANDLE);
    EXPECT_EQ(renderer->rtPipelineMotion, VK_NULL_HANDLE);
    EXPECT_EQ(renderer->sbtBufferMotion.buffer, VK_NULL_HANDLE);
    const uint64_t base = renderer->rtPipelineProperties.shaderGroupBaseAlignment;
    for (const auto* r : {&renderer->raygenRegion, &renderer->missRegion, &renderer->hitRegion})
        EXPECT_EQ(r->deviceAddress % base, 0u);
    EXPECT_EQ(renderer->callableRegion.deviceAddress, 0u);
}

TEST_F(RenderTest, SourceDirWithRayGenerationCompilesAndNeedsLightPath) {
    Scene scene = plane_scene(-5, 3);
    const fs::path dir = fresh_dir("partial_src");
    fs::copy_file(test_source_dir() + "/eye_path.rgen", dir / "eye_path.rgen");
    for (const char* f : {"gpu_layout.h", "push_block.glsl", "framebuffers.glsl"})
        fs::copy_file(source_dir() + "/shaders/" + f, dir / f);
    std::string printed;
    try {
        printed = capture_stdout(
            [&] { renderer->createPipelines(scene, built_shader_dir(), dir.string(), nullptr); });
        FAIL() << "a source folder without light_path.comp must fail";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot open shader source: " + dir.string() + "/light_path.comp");
    }
    // The real light-path program, with every include it needs beside it.
    for (const auto& entry : fs::directory_iterator(source_dir() + "/shaders")) {
        const std::string ext = entry.path().extension().string();
        if (ext == ".glsl" || ext == ".h" || entry.path().filename() == "light_path.comp")
            fs::copy_file(entry.path(), dir / entry.path().filename(),
                          fs::copy_options::skip_existing);
    }
    printed = capture_stdout(
        [&] { renderer->createPipelines(scene, built_shader_dir(), dir.string(), nullptr); });
    EXPECT_THAT(printed, HasSubstr("JIT compiling shaders (0 materials, shader_dir=" +
                                   dir.string() + ")...\n"));
    EXPECT_THAT(printed, HasSubstr("JIT compiling light_path.comp with 0 material functions...\n"));
}

TEST_F(RenderTest, DeviceCapabilitiesChooseTheProgramFiles) {
    // A shader folder without the float-atomic and motion-blur files works
    // only if the renderer asks for neither.
    const fs::path dir = fresh_dir("nofloat_spv");
    for (const auto& entry : fs::directory_iterator(built_shader_dir())) {
        const std::string name = entry.path().filename().string();
        const bool floatOnly = name == "filter.comp.spv" || name == "postprocess.comp.spv" ||
                               name == "light_path.comp.spv";
        const bool motion = name.find(".motion") != std::string::npos;
        if (entry.path().extension() == ".spv" && !floatOnly && !motion)
            fs::copy_file(entry.path(), dir / name);
    }
    Scene scene = plane_scene(-5, 3);
    const auto build = [&] {
        capture_stdout([&] { renderer->createPipelines(scene, dir.string(), "", nullptr); });
    };
    renderer->hasFloatAtomics = false;
    EXPECT_NO_THROW(build());
    renderer->hasFloatAtomics = true;
    try {
        build();
        FAIL() << "float-atomic programs are missing";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open shader: " + dir.string() + "/filter.comp.spv");
    }
    renderer->hasFloatAtomics = false;
    renderer->hasMotionBlur = true;
    try {
        build();
        FAIL() << "motion-blur programs are missing";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot open shader: " + dir.string() + "/eye_path.rgen.motion.spv");
    }
    renderer->hasMotionBlur = false;
}

TEST_F(RenderTest, ResizeRewritesDescriptorsForTheNewFramebuffers) {
    Scene scene = plane_scene(-5, 3);
    prepare(scene, small_output(8, 8, 0, 1), test_source_dir());
    renderer->resizeFramebuffers(small_output(12, 6, 1, 1));
    // Stale descriptors would name released buffers: validation reports
    // that, and the render would not land in the new accumulation.
    renderer->renderBatch(scene, small_output(12, 6, 1, 1), 3, 0, 0, 0, true);
    const std::vector<float> eye = eyeAccum();
    ASSERT_EQ(eye.size(), 4u * 14 * 8);
    for (size_t p = 0; p < eye.size() / 4; ++p) ASSERT_EQ(eye[4 * p + 3], 3.0f) << p;
}
