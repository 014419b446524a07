// Lifecycle, status, settings and the null-context contract of every call.
#include <gtest/gtest.h>

#include <cstring>

#include "api/grade_preset.h"
#include "gpu/vk_renderer.h"
#include "scene/ess_lut.h"
#include "test_helpers.h"

TEST(Context, FreshContextIsUnpreparedWithTheBuiltInTables) {
    ContextGuard g;
    VitrelContext* ctx = g.ctx;
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(vitrel_is_prepared(ctx), 0);
    EXPECT_EQ(vitrel_get_total_samples(ctx), 0);
    EXPECT_STREQ(vitrel_get_last_error(ctx), "");
    EXPECT_EQ(ctx->output.size_error(), "");
    EXPECT_EQ(ctx->gpu_indices, std::vector<uint32_t>{0});
    EXPECT_FALSE(ctx->shader_dir.empty());
    ASSERT_EQ(ctx->ess_lut.size(), kEssLutSize);
    EXPECT_EQ(std::memcmp(ctx->ess_lut.data(), ess_lut_precomputed, sizeof(ess_lut_precomputed)), 0);
}

TEST(Context, NullContextNeverFaults) {
    const float v3[3] = {0, 0, 0};
    const auto m = translation_matrix(0, 0, 0);
    const unsigned idx[3] = {0, 1, 2};
    const unsigned char px[4] = {1, 2, 3, 4};

    vitrel_destroy(nullptr);
    vitrel_scene_clear(nullptr);
    EXPECT_EQ(vitrel_is_prepared(nullptr), 0);
    EXPECT_EQ(vitrel_get_total_samples(nullptr), 0);
    ASSERT_NE(vitrel_get_last_error(nullptr), nullptr);
    EXPECT_STREQ(vitrel_get_last_error(nullptr), "");

    EXPECT_EQ(vitrel_add_texture(nullptr, px, 1, 1, 4, 0, 0), -1);
    EXPECT_EQ(vitrel_add_material(nullptr, v3, v3, -1, -1, -1, -1, 0, 0, 0, 1.5f, 0.5f, 0, 0, 0,
                                  0, 0, 0, 0, 0),
              -1);
    EXPECT_EQ(vitrel_add_mesh(nullptr, v3, 1, idx, 1, nullptr, nullptr, nullptr, nullptr, 0), -1);
    EXPECT_EQ(vitrel_add_instance(nullptr, 0, 0, m.data()), -1);
    EXPECT_EQ(vitrel_set_envmap(nullptr, v3, 1, 1, nullptr, 1.0f), -1);
    vitrel_set_camera(nullptr, v3, v3, v3, 60, 0, 4);
    vitrel_set_material_subsurface(nullptr, 0, 1, v3, 1);
    vitrel_set_material_subsurface_ext(nullptr, 0, 1, 0);
    vitrel_set_material_alpha(nullptr, 0, 1, 0.5f, 0.5f);
    vitrel_set_material_emission_tex(nullptr, 0, 0);
    vitrel_set_material_f82_tint(nullptr, 0, v3);
    vitrel_set_material_transmission(nullptr, 0, v3, 1);
    vitrel_set_material_coat_color(nullptr, 0, v3);
    vitrel_set_material_thin_walled(nullptr, 0, 1);
    vitrel_set_instance_transform(nullptr, 0, m.data());
    vitrel_clear_animation(nullptr);
    vitrel_set_animation(nullptr, 1, 1, 24);
    vitrel_add_keyframe(nullptr, v3, v3, 0);
    vitrel_set_motion_blur(nullptr, 2, 0.5f);
    vitrel_set_instance_transform_at(nullptr, 0, 0, m.data());
    vitrel_set_output_size(nullptr, 10, 10);
    vitrel_set_render_params(nullptr, 4, 4, 2);
    vitrel_set_tile_size(nullptr, 64);
    vitrel_set_quality(nullptr, 1);
    vitrel_set_shader_paths(nullptr, "a", "b");
    vitrel_set_grade(nullptr, "filmic");
}

TEST(Context, SceneClearResetsSceneButKeepsSettingsAndTheLastError) {
    ContextGuard g;
    VitrelContext* ctx = g.ctx;
    vitrel_set_output_size(ctx, 320, 200);
    vitrel_set_quality(ctx, 3);
    vitrel_set_tile_size(ctx, 64);
    vitrel_set_shader_paths(ctx, "/spv", "/src");
    vitrel_set_render_params(ctx, 16, 3, 1.5f);
    ctx->gpu_indices = {1, 0};
    ASSERT_EQ(add_plain_material(ctx), 0);
    ASSERT_EQ(add_triangle_mesh(ctx), 0);
    const auto m = translation_matrix(0, 0, 0);
    ASSERT_EQ(vitrel_add_instance(ctx, 0, 0, m.data()), 0);
    vitrel_set_motion_blur(ctx, 2, 0.5f);
    ctx->prepared = true;
    ctx->total_samples = 24;
    ctx->front_valid = true;
    ctx->pixels8_front.assign(16, 7);
    ctx->aov_depth.assign(4, 1.0f);
    ctx->last_error = "GPU 7: no device";

    vitrel_scene_clear(ctx);

    EXPECT_EQ(vitrel_is_prepared(ctx), 0);
    EXPECT_EQ(vitrel_get_total_samples(ctx), 0);
    EXPECT_TRUE(ctx->scene.materials.empty() && ctx->scene.meshes.empty() &&
                ctx->scene.instances.empty() && ctx->material_exprs.empty());
    EXPECT_FALSE(ctx->front_valid);
    EXPECT_TRUE(ctx->pixels8_front.empty());
    EXPECT_TRUE(ctx->output.width == 320u && ctx->output.height == 200u && ctx->output.quality == 3u);
    EXPECT_TRUE(ctx->shader_dir == "/spv" && ctx->shader_src_dir == "/src");
    EXPECT_TRUE(ctx->tile_size == 64u && ctx->samples_per_batch == 16u && ctx->trace_param == 3u);
    EXPECT_EQ(ctx->gpu_indices, (std::vector<uint32_t>{1, 0}));
    EXPECT_EQ(ctx->motion_steps, 2);
    EXPECT_EQ(ctx->motion_xforms.size(), 2u);
    EXPECT_EQ(ctx->aov_depth.size(), 4u);
    EXPECT_STREQ(vitrel_get_last_error(ctx), "GPU 7: no device");
    // The cleared scene is a default one: ids start again at 0.
    EXPECT_EQ(add_plain_material(ctx), 0);
    EXPECT_EQ(ctx->material_exprs.size(), 1u);
}

TEST(Context, TotalSamplesReadsWithoutTheLock) {
    ContextGuard g;
    std::lock_guard<std::mutex> held(g.ctx->mutex);
    g.ctx->total_samples = 40;
    // Would deadlock if the call took the context lock.
    EXPECT_EQ(vitrel_get_total_samples(g.ctx), 40);
}

TEST(Settings, GradePresetsChangeGradingButNeverExposure) {
    const GradeRow neutral{1.0f, 1.0f, 1.0f, 1.0f, 0.0f, 1.0f};
    for (const char* known : {"punchy", "filmic", "bleach_bypass"})
        EXPECT_NE(grade_preset(known), neutral) << known;
    for (const char* unknown : {"neutral", "Filmic", "filmic ", "punch", ""})
        EXPECT_EQ(grade_preset(unknown), neutral) << unknown;

    ContextGuard g;
    VitrelContext* ctx = g.ctx;
    vitrel_set_render_params(ctx, 8, 6, 2.0f);
    vitrel_set_grade(ctx, "filmic");
    EXPECT_FLOAT_EQ(ctx->output.grade[1], 1.1f);
    EXPECT_FLOAT_EQ(ctx->output.grade[3], 0.03f);
    vitrel_set_grade(ctx, nullptr);
    EXPECT_FLOAT_EQ(ctx->output.grade[3], 0.03f);
    vitrel_set_grade(ctx, "Filmic");
    const float neutral5[5] = {1, 1, 1, 0, 1};
    EXPECT_EQ(std::memcmp(ctx->output.grade, neutral5, sizeof(neutral5)), 0);
    EXPECT_FLOAT_EQ(ctx->output.exposure, 2.0f);
}

TEST(Settings, RenderParamsAndTileSizeFreezeOncePrepared) {
    ContextGuard g;
    VitrelContext* ctx = g.ctx;
    vitrel_set_render_params(ctx, 4, 2, 0.5f);
    vitrel_set_tile_size(ctx, -5);
    EXPECT_EQ(ctx->tile_size, 1u);
    ctx->renderers.push_back(new VkRenderer());
    vitrel_set_tile_size(ctx, 128);
    EXPECT_EQ(ctx->renderers[0]->tileSize, 128u);

    ctx->prepared = true;
    vitrel_set_render_params(ctx, 16, 4, 2.0f);
    vitrel_set_tile_size(ctx, 32);
    EXPECT_EQ(ctx->samples_per_batch, 4u);
    EXPECT_EQ(ctx->trace_param, 2u);
    EXPECT_FLOAT_EQ(ctx->output.exposure, 2.0f);  // exposure is not frozen
    EXPECT_EQ(ctx->tile_size, 32u);
    EXPECT_EQ(ctx->renderers[0]->tileSize, 128u);
    ctx->prepared = false;
}

// Sizes are stored as given; the padded sizes never wrap, and any size
// that cannot be rendered is named.
TEST(Settings, OutputSizesArePaddedAndUnrenderableOnesNamed) {
    ContextGuard g;
    VitrelContext* ctx = g.ctx;
    vitrel_set_output_size(ctx, 1920, 1080);
    vitrel_set_quality(ctx, 1);
    EXPECT_EQ(ctx->output.padded_width(), 1928u);
    EXPECT_EQ(ctx->output.padded_height(), 1088u);
    EXPECT_FLOAT_EQ(ctx->output.overscan_scale(), 1088.0f / 1080.0f);
    EXPECT_EQ(ctx->output.size_error(), "");
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
