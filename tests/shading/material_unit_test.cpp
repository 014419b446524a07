// The two halves of material shading meet: the unit the material compiler
// writes for host graphs built through the call interface compiles against
// the accessors, texture lookups and tangent reads of the shading library.
// (Default graphs meet the library in material_generic_test.)
#include <gtest/gtest.h>

#include <unordered_map>

#include "api/vitrel_api.h"
#include "api/vitrel_context.h"
#include "codegen/material_codegen.h"
#include "gpu/shader_compiler.h"
#include "gpu_test_support.h"

namespace {

constexpr int kComputeKind = 2;  // shaderc_compute_shader
constexpr uint32_t kSpirvMagic = 0x07230203u;

std::vector<uint32_t> compile_with_unit(const std::string& unit) {
    const std::unordered_map<std::string, std::string> virtual_files{{"material_eval.glsl", unit}};
    return compile_glsl_words(test_program_source("material_unit_test.comp"), "material_unit_test.comp",
                              kComputeKind, VITREL_SHADER_SOURCE_DIR, {}, &virtual_files);
}

int add_material(VitrelContext* ctx, int albedo, int roughness, int metallic, int normal) {
    const float base[3] = {0.2f, 0.4f, 0.6f}, emit[3] = {0, 0, 0};
    return vitrel_add_material(ctx, base, emit, albedo, roughness, metallic, normal, 0.5f, 0.0f,
                               0.0f, 1.5f, 0.5f, 0.0f, 0, 0, 0, 0, 0, 0, 0);
}

}  // namespace

TEST(MaterialUnit, HostGraphsFromTheCallInterfaceCompile) {
    VitrelContext* ctx = vitrel_create();
    ASSERT_EQ(add_material(ctx, -1, -1, -1, -1), 0);
    ASSERT_EQ(add_material(ctx, 0, -1, -1, 1), 1);
    // Material 0: albedo = mix(texture, lerp_time(red, blue), ramp(|uv-driven|)),
    // roughness = clamp(pow(split_g(tex), 2), 0.05, 1), metallic = if_uv(x, 0),
    // emission = combine(sqrt(t), invert(t), dot(a, b)).
    const int tex = vitrel_expr_tex_rgb_xform(ctx, 0, 0, 2.0f, 2.0f, 0.1f, 0.2f, 0.7f);
    const int red = vitrel_expr_const_vec3(ctx, 0, 1, 0, 0);
    const int blue = vitrel_expr_const_vec3(ctx, 0, 0, 0, 1);
    const int lerp = vitrel_expr_lerp_time(ctx, 0, red, blue);
    const int t = vitrel_expr_time(ctx, 0);
    const int ramp = vitrel_expr_tex_scalar_1d(ctx, 0, 1, t);
    const int albedo = vitrel_expr_mix(ctx, 0, tex, lerp, ramp);
    const int g = vitrel_expr_split_g(ctx, 0, tex);
    const int two = vitrel_expr_const_float(ctx, 0, 2.0f);
    const int sq = vitrel_expr_pow(ctx, 0, g, two);
    const int lo = vitrel_expr_const_float(ctx, 0, 0.05f);
    const int hi = vitrel_expr_const_float(ctx, 0, 1.0f);
    const int rough = vitrel_expr_clamp(ctx, 0, sq, lo, hi);
    const int scalar = vitrel_expr_tex_scalar(ctx, 0, 2);
    const int zero = vitrel_expr_const_float(ctx, 0, 0.0f);
    const int metal = vitrel_expr_if_uv(ctx, 0, scalar, zero);
    const int root_t = vitrel_expr_sqrt(ctx, 0, vitrel_expr_abs(ctx, 0, t));
    const int inv = vitrel_expr_invert(ctx, 0, t);
    const int d = vitrel_expr_dot(ctx, 0, red, vitrel_expr_sub(ctx, 0, blue, red));
    const int emission = vitrel_expr_combine_rgb(ctx, 0, root_t, inv, vitrel_expr_add(ctx, 0, d, sq));
    vitrel_mat_set_expr(ctx, 0, 0, albedo);
    vitrel_mat_set_expr(ctx, 0, 1, rough);
    vitrel_mat_set_expr(ctx, 0, 2, metal);
    vitrel_mat_set_expr(ctx, 0, 4, emission);
    // Material 1 keeps its defaults except a scaled albedo texture.
    const int tex1 = vitrel_expr_tex_rgb(ctx, 1, 0);
    const int half = vitrel_expr_const_vec3(ctx, 1, 0.5f, 0.5f, 0.5f);
    vitrel_mat_set_expr(ctx, 1, 0, vitrel_expr_mul(ctx, 1, tex1, half));
    for (int id : {tex, lerp, ramp, albedo, rough, metal, emission, tex1}) ASSERT_GE(id, 0);

    testing::internal::CaptureStderr();
    const std::string unit = generate_material_eval_glsl(ctx->scene, &ctx->material_exprs);
    const std::string complaints = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(complaints.empty()) << complaints;  // every graph was usable
    const std::vector<uint32_t> words = compile_with_unit(unit);
    ASSERT_FALSE(words.empty());
    EXPECT_EQ(words[0], kSpirvMagic);
    vitrel_destroy(ctx);
}
