// Output, quality and grading settings.
#include <gtest/gtest.h>

#include "api/grade_preset.h"
#include "gpu/vk_renderer.h"
#include "test_helpers.h"

TEST(GradePreset, NamedRowsAndNeutralFallback) {
    EXPECT_EQ(grade_preset("punchy"), (GradeRow{1.0f, 1.0f, 1.3f, 1.15f, 0.0f, 0.95f}));
    EXPECT_EQ(grade_preset("filmic"), (GradeRow{1.0f, 1.0f, 1.1f, 0.85f, 0.03f, 1.05f}));
    EXPECT_EQ(grade_preset("bleach_bypass"), (GradeRow{1.0f, 1.0f, 1.5f, 0.5f, 0.0f, 0.9f}));
    const GradeRow neutral{1.0f, 1.0f, 1.0f, 1.0f, 0.0f, 1.0f};
    EXPECT_EQ(grade_preset("neutral"), neutral);
    EXPECT_EQ(grade_preset("Filmic"), neutral);
    EXPECT_EQ(grade_preset("filmic "), neutral);
    EXPECT_EQ(grade_preset("punch"), neutral);
    EXPECT_EQ(grade_preset(""), neutral);
}

TEST(Settings, GradeChangesGradingButNeverExposure) {
    ContextGuard g;
    VitrelContext* ctx = g.ctx;
    vitrel_set_render_params(ctx, 8, 6, 2.0f);
    vitrel_set_grade(ctx, "filmic");
    EXPECT_FLOAT_EQ(ctx->output.exposure, 2.0f);
    EXPECT_FLOAT_EQ(ctx->output.grade[1], 1.1f);
    EXPECT_FLOAT_EQ(ctx->output.grade[3], 0.03f);
    vitrel_set_grade(ctx, nullptr);
    EXPECT_FLOAT_EQ(ctx->output.grade[3], 0.03f);
    vitrel_set_grade(ctx, "Filmic");
    const float neutral[5] = {1, 1, 1, 0, 1};
    for (int i = 0; i < 5; ++i) EXPECT_FLOAT_EQ(ctx->output.grade[i], neutral[i]);
    EXPECT_FLOAT_EQ(ctx->output.exposure, 2.0f);
}

TEST(Settings, RenderParamsFreezeSamplesOncePrepared) {
    ContextGuard g;
    VitrelContext* ctx = g.ctx;
    vitrel_set_render_params(ctx, 4, 2, 0.5f);
    EXPECT_EQ(ctx->samples_per_batch, 4u);
    EXPECT_EQ(ctx->trace_param, 2u);
    ctx->prepared = true;
    vitrel_set_render_params(ctx, 16, 4, 2.0f);
    EXPECT_EQ(ctx->samples_per_batch, 4u);
    EXPECT_EQ(ctx->trace_param, 2u);
    EXPECT_FLOAT_EQ(ctx->output.exposure, 2.0f);
}

TEST(Settings, TileSizeClampsToOneAndReachesUnpreparedRenderers) {
    ContextGuard g;
    VitrelContext* ctx = g.ctx;
    vitrel_set_tile_size(ctx, 0);
    EXPECT_EQ(ctx->tile_size, 1u);
    vitrel_set_tile_size(ctx, -5);
    EXPECT_EQ(ctx->tile_size, 1u);

    ctx->renderers.push_back(new VkRenderer());
    vitrel_set_tile_size(ctx, 128);
    EXPECT_EQ(ctx->renderers[0]->tileSize, 128u);
    ctx->prepared = true;
    vitrel_set_tile_size(ctx, 32);
    EXPECT_EQ(ctx->tile_size, 32u);
    EXPECT_EQ(ctx->renderers[0]->tileSize, 128u);
    ctx->prepared = false;
}

TEST(Settings, OutputSizeAndQualityStoredUnchecked) {
    ContextGuard g;
    VitrelContext* ctx = g.ctx;
    vitrel_set_output_size(ctx, 1920, 1080);
    vitrel_set_quality(ctx, 1);
    EXPECT_EQ(ctx->output.width, 1920u);
    EXPECT_EQ(ctx->output.height, 1080u);
    EXPECT_EQ(ctx->output.quality, 1u);
    EXPECT_EQ(ctx->output.padded_width(), 1928u);
    EXPECT_EQ(ctx->output.padded_height(), 1088u);
    EXPECT_FLOAT_EQ(ctx->output.overscan_scale(), 1088.0f / 1080.0f);
    EXPECT_EQ(ctx->output.size_error(), "");
}

// Negative and zero sizes are stored as given but never pass for a large
// (or wrapped small) render size.
TEST(Settings, UnrenderableSizesAreNamed) {
    ContextGuard g;
    VitrelContext* ctx = g.ctx;
    const struct { int w, h, q; } cases[] = {
        {-1, 512, 2}, {512, -8, 2}, {0, 512, 2}, {512, 512, 0}, {512, 512, -1},
        {1073741820, 512, 2}, {512, 512, 1 << 30}};
    for (const auto& c : cases) {
        vitrel_set_output_size(ctx, c.w, c.h);
        vitrel_set_quality(ctx, c.q);
        EXPECT_EQ(ctx->output.width, static_cast<uint32_t>(c.w));
        EXPECT_EQ(ctx->output.size_error(),
                  "Output size " + std::to_string(c.w) + " x " + std::to_string(c.h) +
                      " at quality " + std::to_string(c.q) + " is not renderable");
    }
    vitrel_set_output_size(ctx, -8, 16);
    EXPECT_EQ(ctx->output.padded_width(), 0xFFFFFFF8ull + 8);  // no wrap to 0
}

TEST(Settings, ShaderPathsReplaceOnlyNonNull) {
    ContextGuard g;
    VitrelContext* ctx = g.ctx;
    const std::string default_dir = ctx->shader_dir;
    vitrel_set_shader_paths(ctx, nullptr, "/src/shaders");
    EXPECT_EQ(ctx->shader_dir, default_dir);
    EXPECT_EQ(ctx->shader_src_dir, "/src/shaders");
    vitrel_set_shader_paths(ctx, "/spv", nullptr);
    EXPECT_EQ(ctx->shader_dir, "/spv");
    EXPECT_EQ(ctx->shader_src_dir, "/src/shaders");
    vitrel_set_shader_paths(ctx, nullptr, "");
    EXPECT_TRUE(ctx->shader_src_dir.empty());
}
