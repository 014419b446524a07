// Exact text of the generated material unit. Every expected text here is
// written out from the unit's text rules, piece by piece.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "codegen/material_codegen.h"
#include "comma_locale.h"
#include "codegen_test_util.h"

using namespace codegen_test;

namespace {

Scene scene_of(std::vector<Material> materials) {
    Scene s;
    s.materials = std::move(materials);
    return s;
}

// The unit for one material whose albedo graph is `albedo` and whose other
// slots are default.
std::string unit_with_albedo(const ExprGraph& albedo) {
    std::vector<MaterialExprData> exprs(1);
    exprs[0].albedo = albedo;
    return generate_material_eval_glsl(scene_of({material_with(-1)}), &exprs);
}

std::string albedo_function(const std::string& unit) {
    return section(unit, "vec3 _albedo_fn_0(", "}\n");
}

}  // namespace

TEST(GlslText, OneMaterialWithAlbedoTextureIsTheWholeUnit) {
    const std::string expected =
        "// JIT-generated material evaluation (1 materials, expression graph IR)\n"
        "#ifndef MATERIAL_EVAL_GLSL\n"
        "#define MATERIAL_EVAL_GLSL\n"
        "\n"
        "vec3 _albedo_fn_0(int mid, vec2 uv, bool have_uv, float time) {\n"
        "    vec3 _v0 = gmat_base_color(mid);\n"
        "    int _v1 = gmat_albedo_tex(mid);\n"
        "    vec3 _v2 = sample_texture_rgb(_v1, uv);\n"
        "    vec3 _v3 = have_uv ? _v2 : _v0;\n"
        "    return _v3;\n"
        "}\n"
        "\n"
        "vec3 eval_albedo(int mid, vec2 uv, bool have_uv, float time) {\n"
        "    return _albedo_fn_0(mid, uv, have_uv, time);\n"
        "}\n"
        "\n"
        "float _roughness_fn_0(int mid, vec2 uv, bool have_uv, float time) {\n"
        "    float _v0 = gmat_roughness(mid);\n"
        "    return _v0;\n"
        "}\n"
        "\n"
        "float eval_roughness(int mid, vec2 uv, bool have_uv, float time) {\n"
        "    return _roughness_fn_0(mid, uv, have_uv, time);\n"
        "}\n"
        "\n"
        "float _metallic_fn_0(int mid, vec2 uv, bool have_uv, float time) {\n"
        "    float _v0 = gmat_metallic(mid);\n"
        "    return _v0;\n"
        "}\n"
        "\n"
        "float eval_metallic(int mid, vec2 uv, bool have_uv, float time) {\n"
        "    return _metallic_fn_0(mid, uv, have_uv, time);\n"
        "}\n"
        "\n"
        "vec3 _normal_fn_0(int mid, vec2 uv, bool have_uv, float time, vec3 Ns_f, vec3 Ng_f,\n"
        "    uint instanceIdx, int primitiveId, vec2 barycentrics) {\n"
        "    return Ns_f;\n"
        "}\n"
        "\n"
        "vec3 eval_normal_map(int mid, vec2 uv, bool have_uv, float time, vec3 Ns_f, vec3 Ng_f,\n"
        "    uint instanceIdx, int primitiveId, vec2 barycentrics) {\n"
        "    return _normal_fn_0(mid, uv, have_uv, time, Ns_f, Ng_f, instanceIdx, primitiveId, "
        "barycentrics);\n"
        "}\n"
        "\n"
        "vec3 _emission_fn_0(int mid, vec2 uv, bool have_uv, float time) {\n"
        "    vec3 _v0 = gmat_emission(mid);\n"
        "    return _v0;\n"
        "}\n"
        "\n"
        "vec3 eval_emission(int mid, vec2 uv, bool have_uv, float time) {\n"
        "    return _emission_fn_0(mid, uv, have_uv, time);\n"
        "}\n"
        "\n"
        "#endif // MATERIAL_EVAL_GLSL\n";
    EXPECT_EQ(generate_material_eval_glsl(scene_of({material_with(4)}), nullptr), expected);
}

TEST(GlslText, NoMaterialsGiveStubsAndPlainEndif) {
    const std::string expected =
        "// JIT-generated material evaluation (0 materials, expression graph IR)\n"
        "#ifndef MATERIAL_EVAL_GLSL\n"
        "#define MATERIAL_EVAL_GLSL\n"
        "\n"
        "vec3 eval_albedo(int mid, vec2 uv, bool have_uv, float time) { return vec3(1.0); }\n"
        "float eval_roughness(int mid, vec2 uv, bool have_uv, float time) { return 0.5; }\n"
        "float eval_metallic(int mid, vec2 uv, bool have_uv, float time) { return 0.0; }\n"
        "vec3 eval_normal_map(int mid, vec2 uv, bool have_uv, float time, vec3 Ns_f, vec3 Ng_f,\n"
        "    uint instanceIdx, int primitiveId, vec2 barycentrics) { return Ns_f; }\n"
        "vec3 eval_emission(int mid, vec2 uv, bool have_uv, float time) { return vec3(0.0); }\n"
        "#endif\n";
    EXPECT_EQ(generate_material_eval_glsl(Scene{}, nullptr), expected);
    // An expression list for materials that do not exist changes nothing.
    std::vector<MaterialExprData> exprs(3);
    EXPECT_EQ(generate_material_eval_glsl(Scene{}, &exprs), expected);
}

TEST(GlslText, SharedShapeGivesOneFunctionPerKindAndNoSwitch) {
    Material a = material_with(1, 2, -1, 3, 4);
    a.base_color[0] = 0.1f;
    a.roughness = 0.9f;
    Material b = material_with(7, 0, -1, 5, 9);
    b.emission[1] = 3.0f;
    const std::string unit = generate_material_eval_glsl(scene_of({a, b, a}), nullptr);
    EXPECT_EQ(unit.find("switch"), std::string::npos);
    for (const char* fn : {"_albedo_fn_", "_roughness_fn_", "_metallic_fn_", "_normal_fn_",
                           "_emission_fn_"}) {
        EXPECT_NE(unit.find(std::string(fn) + "0("), std::string::npos) << fn;
        EXPECT_EQ(unit.find(std::string(fn) + "1("), std::string::npos) << fn;
    }
    EXPECT_EQ(section(unit, "\nvec3 eval_emission(", "}\n"),
              "\nvec3 eval_emission(int mid, vec2 uv, bool have_uv, float time) {\n"
              "    return _emission_fn_0(mid, uv, have_uv, time);\n"
              "}\n");
    EXPECT_EQ(section(unit, "vec3 _emission_fn_0(", "}\n"),
              "vec3 _emission_fn_0(int mid, vec2 uv, bool have_uv, float time) {\n"
              "    vec3 _v0 = gmat_emission(mid);\n"
              "    int _v1 = gmat_emission_tex(mid);\n"
              "    vec3 _v2 = sample_texture_rgb(_v1, uv);\n"
              "    vec3 _v3 = _v0 * _v2;\n"
              "    vec3 _v4 = have_uv ? _v3 : _v0;\n"
              "    return _v4;\n"
              "}\n");
}

TEST(GlslText, TwoShapesAmongThreeMaterialsSwitchOnEveryMaterial) {
    const std::string unit = generate_material_eval_glsl(
        scene_of({material_with(-1), material_with(2), material_with(-1)}), nullptr);
    const std::string expected_albedo =
        "vec3 _albedo_fn_0(int mid, vec2 uv, bool have_uv, float time) {\n"
        "    vec3 _v0 = gmat_base_color(mid);\n"
        "    return _v0;\n"
        "}\n"
        "vec3 _albedo_fn_1(int mid, vec2 uv, bool have_uv, float time) {\n"
        "    vec3 _v0 = gmat_base_color(mid);\n"
        "    int _v1 = gmat_albedo_tex(mid);\n"
        "    vec3 _v2 = sample_texture_rgb(_v1, uv);\n"
        "    vec3 _v3 = have_uv ? _v2 : _v0;\n"
        "    return _v3;\n"
        "}\n"
        "\n"
        "vec3 eval_albedo(int mid, vec2 uv, bool have_uv, float time) {\n"
        "    switch(mid) {\n"
        "        case 0: return _albedo_fn_0(mid, uv, have_uv, time);\n"
        "        case 1: return _albedo_fn_1(mid, uv, have_uv, time);\n"
        "        case 2: return _albedo_fn_0(mid, uv, have_uv, time);\n"
        "    }\n"
        "    return vec3(1.0);\n"
        "}\n"
        "\n"
        "float _roughness_fn_0(";
    EXPECT_EQ(unit.find(expected_albedo), unit.find("vec3 _albedo_fn_0("));
    EXPECT_NE(unit.find(expected_albedo), std::string::npos);
    // The other kinds share one shape: no switch there.
    EXPECT_EQ(unit.find("switch"), unit.rfind("switch"));
}

TEST(GlslText, NormalMapsSwitchWithTheNormalFallback) {
    const std::string unit = generate_material_eval_glsl(
        scene_of({material_with(-1, -1, -1, 3), material_with(-1)}), nullptr);
    const std::string expected =
        "vec3 _normal_fn_0(int mid, vec2 uv, bool have_uv, float time, vec3 Ns_f, vec3 Ng_f,\n"
        "    uint instanceIdx, int primitiveId, vec2 barycentrics) {\n"
        "    int _tex = gmat_normal_tex(mid);\n"
        "    if (!have_uv) return Ns_f;\n"
        "    vec3 tangent_ws;\n"
        "    if (!read_tangent(instanceIdx, primitiveId, barycentrics, tangent_ws)) return Ns_f;\n"
        "    tangent_ws = normalize(tangent_ws - dot(tangent_ws, Ns_f) * Ns_f);\n"
        "    vec3 bitangent_ws = cross(Ns_f, tangent_ws);\n"
        "    vec3 nm = sample_texture_rgb(_tex, uv) * 2.0 - 1.0;\n"
        "    vec3 perturbed = normalize(tangent_ws * nm.x + Ns_f * nm.z + bitangent_ws * nm.y);\n"
        "    return (dot(perturbed, Ng_f) > 0.0) ? perturbed : Ns_f;\n"
        "}\n"
        "vec3 _normal_fn_1(int mid, vec2 uv, bool have_uv, float time, vec3 Ns_f, vec3 Ng_f,\n"
        "    uint instanceIdx, int primitiveId, vec2 barycentrics) {\n"
        "    return Ns_f;\n"
        "}\n"
        "\n"
        "vec3 eval_normal_map(int mid, vec2 uv, bool have_uv, float time, vec3 Ns_f, vec3 Ng_f,\n"
        "    uint instanceIdx, int primitiveId, vec2 barycentrics) {\n"
        "    switch(mid) {\n"
        "        case 0: return _normal_fn_0(mid, uv, have_uv, time, Ns_f, Ng_f, instanceIdx, "
        "primitiveId, barycentrics);\n"
        "        case 1: return _normal_fn_1(mid, uv, have_uv, time, Ns_f, Ng_f, instanceIdx, "
        "primitiveId, barycentrics);\n"
        "    }\n"
        "    return Ns_f;\n"
        "}\n"
        "\n"
        "vec3 _emission_fn_0(";
    EXPECT_NE(unit.find(expected), std::string::npos) << unit;
}

TEST(GlslText, FloatLiteralsInAnyHostLocale) {
    using L = std::numeric_limits<float>;
    const struct { float f; const char* text; } cases[] = {
        {1.0f, "1.0"}, {0.5f, "0.5"}, {-2.0f, "-2.0"}, {0.1f, "0.100000001"}, {1e10f, "1e+10"},
        {0.0f, "0.0"}, {-0.0f, "-0.0"}, {123456792.0f, "123456792.0"},
        {L::quiet_NaN(), "0.0"}, {-L::quiet_NaN(), "0.0"},
        {L::infinity(), "3.402823466e+38"}, {-L::infinity(), "-3.402823466e+38"},
        {L::max(), "3.40282347e+38"}, {L::denorm_min(), "1.40129846e-45"}};
    for (const auto& c : cases) EXPECT_EQ(flit(c.f), c.text);
    // A host that set a decimal-comma locale gets the same unit.
    ExprNode xform = node(ExprOp::TexRgbXform, 0);
    for (int i = 0; i < 6; ++i) xform.value[i] = 0.25f * static_cast<float>(i + 1);
    const ExprGraph g = graph({constant(ExprOp::TexIndex, {1}), xform,
                               constant(ExprOp::ConstVec3, {0.25f, 0.5f, 1.5f}),
                               node(ExprOp::Add, 1, 2)},
                              3);
    const std::string unit = unit_with_albedo(g);
    CommaLocale comma;
    SKIP_WITHOUT_COMMA_LOCALE(comma);
    for (const auto& c : cases) EXPECT_EQ(flit(c.f), c.text);
    EXPECT_EQ(unit_with_albedo(g), unit);
}

TEST(GlslText, ConstantsUseFloatLiterals) {
    const std::string fn = albedo_function(unit_with_albedo(graph(
        {constant(ExprOp::ConstFloat, {2.0f}), constant(ExprOp::ConstVec3, {0.1f, -2.0f, 1e10f}),
         node(ExprOp::Mul, 1, 0)},
        2)));
    EXPECT_EQ(fn,
              "vec3 _albedo_fn_0(int mid, vec2 uv, bool have_uv, float time) {\n"
              "    float _v0 = 2.0;\n"
              "    vec3 _v1 = vec3(0.100000001, -2.0, 1e+10);\n"
              "    vec3 _v2 = _v1 * _v0;\n"
              "    return _v2;\n"
              "}\n");
}

TEST(GlslText, TexIndexIsAnIntVariablePassedToTheSampler) {
    Ctx c;
    const int tex = vitrel_expr_tex_rgb(c.ctx, 0, 5);
    ASSERT_EQ(tex, 1);
    vitrel_mat_set_expr(c.ctx, 0, 0, tex);
    const std::string unit = generate_material_eval_glsl(c.ctx->scene, &c.ctx->material_exprs);
    EXPECT_EQ(albedo_function(unit),
              "vec3 _albedo_fn_0(int mid, vec2 uv, bool have_uv, float time) {\n"
              "    int _v0 = 5;\n"
              "    vec3 _v1 = sample_texture_rgb(_v0, uv);\n"
              "    return _v1;\n"
              "}\n");

    // A negative index is written as given; the fraction of a hand-made
    // index is cut toward zero.
    ExprNode idx = constant(ExprOp::TexIndex, {-1.75f});
    EXPECT_EQ(emit_node_inline(graph({idx}, 0), 0), "-1");
    idx.value[0] = 3.9f;
    EXPECT_EQ(emit_node_inline(graph({idx}, 0), 0), "3");
}

TEST(GlslText, UnreachableNodesLeaveGapsInVariableNumbers) {
    const std::string fn = albedo_function(unit_with_albedo(graph(
        {constant(ExprOp::ConstFloat, {0.25f}), constant(ExprOp::ConstVec3, {1.0f, 0.5f, 0.0f}),
         node(ExprOp::Time), constant(ExprOp::ConstFloat, {2.0f}), node(ExprOp::Mul, 1, 3),
         node(ExprOp::Sqrt, 4)},
        4)));
    EXPECT_EQ(fn,
              "vec3 _albedo_fn_0(int mid, vec2 uv, bool have_uv, float time) {\n"
              "    vec3 _v1 = vec3(1.0, 0.5, 0.0);\n"
              "    float _v3 = 2.0;\n"
              "    vec3 _v4 = _v1 * _v3;\n"
              "    return _v4;\n"
              "}\n");
}

TEST(GlslText, UvTransformHasNoSpacesAfterItsCommas) {
    Ctx c;
    const int s = vitrel_expr_tex_rgb_xform(c.ctx, 0, 2, 2.0f, 3.0f, 0.25f, 0.5f, 0.0f);
    vitrel_mat_set_expr(c.ctx, 0, 0, s);
    const std::string unit = generate_material_eval_glsl(c.ctx->scene, &c.ctx->material_exprs);
    EXPECT_EQ(albedo_function(unit),
              "vec3 _albedo_fn_0(int mid, vec2 uv, bool have_uv, float time) {\n"
              "    int _v0 = 2;\n"
              "    vec3 _v1 = sample_texture_rgb(_v0, (mat2(1.0,-0.0,0.0,1.0) * "
              "(uv * vec2(2.0,3.0)) + vec2(0.25,0.5)));\n"
              "    return _v1;\n"
              "}\n");

    ExprNode n = constant(ExprOp::TexScalarXform, {0.5f, 4.0f, -1.0f, 0.125f, 0.5f, 0.75f});
    n.in[0] = 0;
    EXPECT_EQ(emit_node_inline(graph({constant(ExprOp::TexIndex, {1.0f}), n}, 1), 1),
              "sample_texture_scalar(_v0, (mat2(0.75,-0.5,0.5,0.75) * (uv * vec2(0.5,4.0)) + "
              "vec2(-1.0,0.125)))");
}

TEST(GlslText, NegativeSineIsNotWrittenAsADecrement) {
    // "-" followed by a negative literal would read "--", a decrement that
    // GLSL rejects; the negated negative sine is written as its magnitude.
    ExprNode n = constant(ExprOp::TexRgbXform, {1.0f, 1.0f, 0.0f, 0.0f, -0.5f, 0.75f});
    n.in[0] = 0;
    const std::string text =
        emit_node_inline(graph({constant(ExprOp::TexIndex, {1.0f}), n}, 1), 1);
    EXPECT_EQ(text,
              "sample_texture_rgb(_v0, (mat2(0.75,0.5,-0.5,0.75) * (uv * vec2(1.0,1.0)) + "
              "vec2(0.0,0.0)))");
    EXPECT_EQ(text.find("--"), std::string::npos);
}

TEST(GlslText, EveryOpcodeHasItsText) {
    // Inputs 0 (vec3), 1 (float), 2 (vec3) are referred to by the nodes
    // under test at index 3.
    const std::vector<ExprNode> base = {constant(ExprOp::ConstVec3, {1, 2, 3}),
                                        constant(ExprOp::ConstFloat, {1}),
                                        constant(ExprOp::ConstVec3, {4, 5, 6})};
    auto text = [&](ExprNode n) {
        std::vector<ExprNode> nodes = base;
        nodes.push_back(n);
        return emit_node_inline(graph(nodes, 3), 3);
    };
    EXPECT_EQ(text(param(ExprOp::ParamFloat, 13)), "gmat_alpha_cutoff(mid)");
    EXPECT_EQ(text(param(ExprOp::ParamVec3, 5)), "gmat_emission(mid)");
    EXPECT_EQ(text(param(ExprOp::ParamInt, 12)), "gmat_alpha_mode(mid)");
    EXPECT_EQ(text(param(ExprOp::ParamInt, 14)), "0");
    EXPECT_EQ(text(param(ExprOp::ParamFloat, -1)), "0");
    EXPECT_EQ(text(node(ExprOp::TexRgb1D, 0, 1)), "sample_texture_rgb(_v0, vec2(_v1, 0.5))");
    EXPECT_EQ(text(node(ExprOp::TexScalar1D, 0, 1)), "sample_texture_scalar(_v0, vec2(_v1, 0.5))");
    EXPECT_EQ(text(node(ExprOp::TexScalar, 2)), "sample_texture_scalar(_v2, uv)");
    EXPECT_EQ(text(node(ExprOp::Add, 0, 2)), "_v0 + _v2");
    EXPECT_EQ(text(node(ExprOp::Sub, 2, 0)), "_v2 - _v0");
    EXPECT_EQ(text(node(ExprOp::Mix, 0, 2, 1)), "mix(_v0, _v2, _v1)");
    EXPECT_EQ(text(node(ExprOp::Invert, 0)), "vec3(1.0) - _v0");
    EXPECT_EQ(text(node(ExprOp::Invert, 1)), "1.0 - _v1");
    EXPECT_EQ(text(node(ExprOp::Clamp, 0, 1, 1)), "clamp(_v0, _v1, _v1)");
    EXPECT_EQ(text(node(ExprOp::Pow, 0, 2)), "pow(_v0, _v2)");
    EXPECT_EQ(text(node(ExprOp::Sqrt, 1)), "sqrt(_v1)");
    EXPECT_EQ(text(node(ExprOp::Abs, 2)), "abs(_v2)");
    EXPECT_EQ(text(node(ExprOp::Dot, 0, 2)), "dot(_v0, _v2)");
    EXPECT_EQ(text(node(ExprOp::SplitR, 0)), "_v0.r");
    EXPECT_EQ(text(node(ExprOp::SplitG, 0)), "_v0.g");
    EXPECT_EQ(text(node(ExprOp::SplitB, 2)), "_v2.b");
    EXPECT_EQ(text(node(ExprOp::CombineRgb, 1, 1, 1)), "vec3(_v1, _v1, _v1)");
    EXPECT_EQ(text(node(ExprOp::LerpTime, 0, 2)), "mix(_v0, _v2, time)");
    EXPECT_EQ(text(node(ExprOp::Time)), "time");
    EXPECT_EQ(text(node(ExprOp::IfUv, 0, 2)), "have_uv ? _v0 : _v2");
    EXPECT_EQ(text(node(ExprOp::NormalMap, 1)), "vec3(0.0)");
    EXPECT_EQ(text(node(ExprOp::NormalNone)), "vec3(0.0)");
    EXPECT_EQ(text(node(static_cast<ExprOp>(77))), "vec3(0.0)");
    EXPECT_EQ(emit_node_inline(graph(base, 0), 3), "0");
}

TEST(GlslText, InvertFollowsTheFirstInputThroughPassThroughs) {
    // The Invert's first input is an IfUv over a TexRgb: a vec3, so the
    // vec3 form is used although node 1 is a float constant.
    const std::string fn = albedo_function(unit_with_albedo(graph(
        {constant(ExprOp::TexIndex, {0}), constant(ExprOp::ConstVec3, {0, 0, 0}),
         node(ExprOp::TexRgb, 0), node(ExprOp::IfUv, 2, 1), node(ExprOp::Invert, 3)},
        4)));
    EXPECT_EQ(fn,
              "vec3 _albedo_fn_0(int mid, vec2 uv, bool have_uv, float time) {\n"
              "    int _v0 = 0;\n"
              "    vec3 _v1 = vec3(0.0, 0.0, 0.0);\n"
              "    vec3 _v2 = sample_texture_rgb(_v0, uv);\n"
              "    vec3 _v3 = have_uv ? _v2 : _v1;\n"
              "    vec3 _v4 = vec3(1.0) - _v3;\n"
              "    return _v4;\n"
              "}\n");
}
