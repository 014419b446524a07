// The vitrel_expr_* builders and vitrel_mat_set_expr through the call
// interface, with the context's node pools inspected directly.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "codegen/material_codegen.h"
#include "codegen_test_util.h"

using namespace codegen_test;

namespace {

const std::vector<ExprNode>& pool(const Ctx& c, int material) {
    return c.ctx->material_exprs[static_cast<size_t>(material)].albedo.nodes;
}

void expect_fill(const ExprNode& n, int used_inputs, int used_values) {
    EXPECT_EQ(n.param, -1);
    for (int j = used_inputs; j < 3; ++j) EXPECT_EQ(n.in[j], -1) << j;
    for (int j = used_values; j < 6; ++j) EXPECT_EQ(n.value[j], 0.0f) << j;
}

}  // namespace

TEST(ExprCalls, EveryOperatorBuilderAppendsItsNode) {
    struct Case {
        std::function<int(VitrelContext*)> call;
        ExprOp op;
        std::vector<int> inputs;
    };
    const std::vector<Case> cases = {
        {[](VitrelContext* c) { return vitrel_expr_time(c, 0); }, ExprOp::Time, {}},
        {[](VitrelContext* c) { return vitrel_expr_lerp_time(c, 0, 3, 4); }, ExprOp::LerpTime, {3, 4}},
        {[](VitrelContext* c) { return vitrel_expr_mul(c, 0, 5, 6); }, ExprOp::Mul, {5, 6}},
        {[](VitrelContext* c) { return vitrel_expr_add(c, 0, 7, 8); }, ExprOp::Add, {7, 8}},
        {[](VitrelContext* c) { return vitrel_expr_sub(c, 0, 9, 1); }, ExprOp::Sub, {9, 1}},
        {[](VitrelContext* c) { return vitrel_expr_mix(c, 0, 1, 2, 3); }, ExprOp::Mix, {1, 2, 3}},
        {[](VitrelContext* c) { return vitrel_expr_invert(c, 0, 4); }, ExprOp::Invert, {4}},
        {[](VitrelContext* c) { return vitrel_expr_abs(c, 0, 5); }, ExprOp::Abs, {5}},
        {[](VitrelContext* c) { return vitrel_expr_sqrt(c, 0, 6); }, ExprOp::Sqrt, {6}},
        {[](VitrelContext* c) { return vitrel_expr_dot(c, 0, 7, 2); }, ExprOp::Dot, {7, 2}},
        {[](VitrelContext* c) { return vitrel_expr_pow(c, 0, 8, 3); }, ExprOp::Pow, {8, 3}},
        {[](VitrelContext* c) { return vitrel_expr_clamp(c, 0, 9, 1, 2); }, ExprOp::Clamp, {9, 1, 2}},
        {[](VitrelContext* c) { return vitrel_expr_if_uv(c, 0, 3, 4); }, ExprOp::IfUv, {3, 4}},
        {[](VitrelContext* c) { return vitrel_expr_split_r(c, 0, 5); }, ExprOp::SplitR, {5}},
        {[](VitrelContext* c) { return vitrel_expr_split_g(c, 0, 6); }, ExprOp::SplitG, {6}},
        {[](VitrelContext* c) { return vitrel_expr_split_b(c, 0, 7); }, ExprOp::SplitB, {7}},
        {[](VitrelContext* c) { return vitrel_expr_combine_rgb(c, 0, 8, 9, 1); }, ExprOp::CombineRgb,
         {8, 9, 1}},
    };
    Ctx c;
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(cases[i].call(c.ctx), static_cast<int>(i));
        ASSERT_EQ(pool(c, 0).size(), i + 1);
        const ExprNode& n = pool(c, 0)[i];
        EXPECT_EQ(n.op, cases[i].op);
        for (size_t j = 0; j < cases[i].inputs.size(); ++j) EXPECT_EQ(n.in[j], cases[i].inputs[j]);
        expect_fill(n, static_cast<int>(cases[i].inputs.size()), 0);
        // Null context and out-of-range materials are rejected and add nothing.
        EXPECT_EQ(cases[i].call(nullptr), -1);
    }
    EXPECT_EQ(pool(c, 0).size(), cases.size());
}

TEST(ExprCalls, ConstantsKeepTheirValues) {
    Ctx c;
    EXPECT_EQ(vitrel_expr_const_float(c.ctx, 0, -0.0f), 0);
    EXPECT_EQ(vitrel_expr_const_vec3(c.ctx, 0, 1.0f, 2.0f, 3.0f), 1);
    EXPECT_EQ(pool(c, 0)[0].op, ExprOp::ConstFloat);
    EXPECT_TRUE(std::signbit(pool(c, 0)[0].value[0]));
    expect_fill(pool(c, 0)[0], 0, 1);
    EXPECT_EQ(pool(c, 0)[1].op, ExprOp::ConstVec3);
    EXPECT_EQ(pool(c, 0)[1].value[2], 3.0f);
    expect_fill(pool(c, 0)[1], 0, 3);
}

TEST(ExprCalls, TextureBuildersAppendAnIndexNodeThenTheSampler) {
    Ctx c;
    EXPECT_EQ(vitrel_expr_tex_rgb(c.ctx, 0, 7), 1);
    EXPECT_EQ(vitrel_expr_tex_scalar(c.ctx, 0, 2), 3);
    EXPECT_EQ(vitrel_expr_tex_rgb_1d(c.ctx, 0, 4, 3), 5);
    EXPECT_EQ(vitrel_expr_tex_scalar_1d(c.ctx, 0, 5, 1), 7);
    const float rot = 0.5f;
    EXPECT_EQ(vitrel_expr_tex_rgb_xform(c.ctx, 0, 1, 2.0f, 3.0f, 0.25f, 0.75f, rot), 9);
    EXPECT_EQ(vitrel_expr_tex_scalar_xform(c.ctx, 0, 0, 1.0f, 1.0f, 0.0f, 0.0f, -rot), 11);
    const auto& p = pool(c, 0);
    ASSERT_EQ(p.size(), 12u);
    const ExprOp samplers[6] = {ExprOp::TexRgb, ExprOp::TexScalar, ExprOp::TexRgb1D,
                                ExprOp::TexScalar1D, ExprOp::TexRgbXform, ExprOp::TexScalarXform};
    const float textures[6] = {7, 2, 4, 5, 1, 0};
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(p[2 * i].op, ExprOp::TexIndex);
        EXPECT_EQ(p[2 * i].value[0], textures[i]);
        expect_fill(p[2 * i], 0, 1);
        EXPECT_EQ(p[2 * i + 1].op, samplers[i]);
        EXPECT_EQ(p[2 * i + 1].in[0], 2 * i);
    }
    EXPECT_EQ(p[5].in[1], 3);
    EXPECT_EQ(p[7].in[1], 1);
    expect_fill(p[1], 1, 0);
    expect_fill(p[5], 2, 0);
    const float xf[6] = {2.0f, 3.0f, 0.25f, 0.75f, std::sin(rot), std::cos(rot)};
    for (int j = 0; j < 6; ++j) EXPECT_FLOAT_EQ(p[9].value[j], xf[j]) << j;
    EXPECT_FLOAT_EQ(p[11].value[4], -std::sin(rot));
    expect_fill(p[9], 1, 6);
}

// Node indices are per material; bad ids add nothing; the list grows to a
// material that has none yet; a scene clear empties it.
TEST(ExprCalls, MaterialIdsAndTheExpressionList) {
    Ctx c(3);
    EXPECT_EQ(vitrel_expr_time(c.ctx, 3), -1);
    EXPECT_EQ(vitrel_expr_time(c.ctx, -1), -1);
    EXPECT_EQ(vitrel_expr_tex_rgb(c.ctx, 3, 0), -1);
    EXPECT_EQ(vitrel_expr_tex_scalar_xform(nullptr, 0, 0, 1, 1, 0, 0, 0), -1);
    EXPECT_EQ(vitrel_expr_const_vec3(nullptr, 0, 1, 2, 3), -1);
    vitrel_mat_set_expr(nullptr, 0, 0, 0);
    vitrel_mat_set_expr(c.ctx, 3, 0, 0);
    ASSERT_EQ(c.ctx->material_exprs.size(), 3u);
    for (int m = 0; m < 3; ++m) EXPECT_TRUE(pool(c, m).empty());
    EXPECT_EQ(vitrel_expr_time(c.ctx, 1), 0);
    EXPECT_EQ(vitrel_expr_time(c.ctx, 0), 0);

    c.ctx->material_exprs.clear();
    EXPECT_EQ(vitrel_expr_time(c.ctx, 1), 0);
    ASSERT_EQ(c.ctx->material_exprs.size(), 2u);
    EXPECT_TRUE(pool(c, 0).empty());
    EXPECT_EQ(c.ctx->material_exprs[0].normal.root, -1);
    vitrel_mat_set_expr(c.ctx, 2, 4, 0);
    ASSERT_EQ(c.ctx->material_exprs.size(), 3u);
    EXPECT_EQ(c.ctx->material_exprs[2].emission.root, 0);

    vitrel_scene_clear(c.ctx);
    EXPECT_TRUE(c.ctx->material_exprs.empty());
    EXPECT_EQ(vitrel_expr_time(c.ctx, 0), -1);
}

TEST(ExprCalls, SetExprCopiesThePoolIntoSlotsOneToFour) {
    Ctx c;
    const int half = vitrel_expr_const_float(c.ctx, 0, 0.5f);
    vitrel_mat_set_expr(c.ctx, 0, 2, half);
    const int later = vitrel_expr_time(c.ctx, 0);
    const MaterialExprData& d = c.ctx->material_exprs[0];
    EXPECT_EQ(d.metallic.nodes.size(), 1u);
    EXPECT_EQ(d.metallic.root, half);
    EXPECT_EQ(d.albedo.nodes.size(), 2u);
    EXPECT_EQ(d.albedo.root, -1);

    vitrel_mat_set_expr(c.ctx, 0, 2, later);
    EXPECT_EQ(d.metallic.nodes.size(), 2u);
    vitrel_mat_set_expr(c.ctx, 0, 0, 99);  // stored unchecked
    EXPECT_EQ(d.albedo.root, 99);
    EXPECT_EQ(d.albedo.nodes.size(), 2u);

    for (int slot : {5, -1}) {
        vitrel_mat_set_expr(c.ctx, 0, slot, half);
        EXPECT_EQ(d.albedo.root, 99);
        EXPECT_EQ(d.roughness.root, -1);
        EXPECT_EQ(d.emission.root, -1);
        EXPECT_TRUE(d.roughness.nodes.empty());
        EXPECT_TRUE(d.emission.nodes.empty());
    }
}

TEST(ExprCalls, HalfTheRedChannelDrivesRoughness) {
    Ctx c;
    const int tex = vitrel_expr_tex_rgb(c.ctx, 0, 3);
    const int red = vitrel_expr_split_r(c.ctx, 0, tex);
    const int half = vitrel_expr_const_float(c.ctx, 0, 0.5f);
    const int product = vitrel_expr_mul(c.ctx, 0, red, half);
    EXPECT_EQ(tex, 1);
    EXPECT_EQ(red, 2);
    EXPECT_EQ(half, 3);
    EXPECT_EQ(product, 4);
    vitrel_mat_set_expr(c.ctx, 0, 1, product);
    const std::string unit = generate_material_eval_glsl(c.ctx->scene, &c.ctx->material_exprs);
    const std::string body = section(unit, "float _roughness_fn_0(", "}\n");
    for (const char* line : {"int _v0 = 3;", "_v1 = sample_texture_rgb(_v0, uv);", "_v2 = _v1.r;", "_v3 = 0.5;",
                             "_v4 = _v2 * _v3;", "return _v4;"})
        EXPECT_NE(body.find(line), std::string::npos) << line << " in\n" << unit;
    // The albedo pool holds these nodes, but without a root albedo stays
    // the default graph.
    EXPECT_NE(unit.find("    vec3 _v0 = gmat_base_color(mid);\n    return _v0;\n"), std::string::npos);
}
