// Text of the generated material unit where it carries meaning: defaults,
// sharing and dispatch, locale-free literals, operand order of every opcode.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "codegen/graph_check.h"
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

// Without materials every entry point is a stub with the neutral default
// (white, half rough, dielectric, shading normal, dark); expressions for
// materials that do not exist change nothing. Default graphs of real
// materials are checked by evaluation against the generic unit on the GPU.
TEST(GlslText, NoMaterialsGiveNeutralStubs) {
    const std::string unit = generate_material_eval_glsl(Scene{}, nullptr);
    for (const char* stub : {"time) { return vec3(1.0); }", "time) { return 0.5; }", "time) { return 0.0; }",
                             "barycentrics) { return Ns_f; }", "time) { return vec3(0.0); }"})
        EXPECT_NE(unit.find(stub), std::string::npos) << stub;
    std::vector<MaterialExprData> exprs(3);
    EXPECT_EQ(generate_material_eval_glsl(Scene{}, &exprs), unit);
}

// Materials of one shape share a function and need no switch; two shapes
// switch on every material, with the kind's fallback after the switch.
TEST(GlslText, SharingAndDispatch) {
    Material a = material_with(1, 2, -1, 3, 4);
    a.base_color[0] = 0.1f;  // run-time values do not split a shape
    Material b = material_with(7, 0, -1, 5, 9);
    b.emission[1] = 3.0f;
    const std::string shared = generate_material_eval_glsl(scene_of({a, b, a}), nullptr);
    EXPECT_EQ(shared.find("switch"), std::string::npos);
    EXPECT_EQ(shared.find("_fn_1("), std::string::npos);

    const std::string unit = generate_material_eval_glsl(
        scene_of({material_with(-1, -1, -1, 3), material_with(2), material_with(-1)}), nullptr);
    EXPECT_EQ(dispatch(unit, "albedo"), (std::vector<int>{0, 1, 0})) << unit;
    EXPECT_EQ(dispatch(unit, "normal"), (std::vector<int>{0, 1, 1})) << unit;
    EXPECT_NE(unit.find("case 2: return _albedo_fn_0(mid, uv, have_uv, time);\n    }\n    return vec3(1.0);\n}\n"),
              std::string::npos);
    EXPECT_NE(unit.find("instanceIdx, primitiveId, barycentrics);\n    }\n    return Ns_f;\n"), std::string::npos);
    EXPECT_NE(unit.find("    int _tex = gmat_normal_tex(mid);\n    if (!have_uv) return Ns_f;\n"),
              std::string::npos);
    EXPECT_EQ(std::count(unit.begin(), unit.end(), '{') - std::count(unit.begin(), unit.end(), '}'), 0);
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

// Variables of reachable nodes only, in index order, typed as the
// emitter's rules say; constants as float literals; texture indices cut to
// ints.
TEST(GlslText, FunctionBodies) {
    ExprNode xform = constant(ExprOp::TexRgbXform, {2.0f, 3.0f, 0.25f, 0.5f, -0.5f, 0.75f});
    xform.in[0] = 0;
    const struct { const char* what; ExprGraph g; const char* body; } cases[] = {
        {"constants",
         graph({constant(ExprOp::ConstFloat, {2.0f}), constant(ExprOp::ConstVec3, {0.1f, -2.0f, 1e10f}),
                node(ExprOp::Mul, 1, 0)}, 2),
         "    float _v0 = 2.0;\n    vec3 _v1 = vec3(0.100000001, -2.0, 1e+10);\n"
         "    vec3 _v2 = _v1 * _v0;\n    return _v2;\n"},
        {"unreachable nodes leave gaps",
         graph({constant(ExprOp::ConstFloat, {0.25f}), constant(ExprOp::ConstVec3, {1.0f, 0.5f, 0.0f}),
                node(ExprOp::Time), constant(ExprOp::ConstFloat, {2.0f}), node(ExprOp::Mul, 1, 3),
                node(ExprOp::Sqrt, 4)}, 4),
         "    vec3 _v1 = vec3(1.0, 0.5, 0.0);\n    float _v3 = 2.0;\n    vec3 _v4 = _v1 * _v3;\n"
         "    return _v4;\n"},
        {"invert follows pass-throughs",
         graph({constant(ExprOp::TexIndex, {-1.75f}), constant(ExprOp::ConstVec3, {0, 0, 0}),
                node(ExprOp::TexRgb, 0), node(ExprOp::IfUv, 2, 1), node(ExprOp::Invert, 3)}, 4),
         "    int _v0 = -1;\n    vec3 _v1 = vec3(0.0, 0.0, 0.0);\n"
         "    vec3 _v2 = sample_texture_rgb(_v0, uv);\n    vec3 _v3 = have_uv ? _v2 : _v1;\n"
         "    vec3 _v4 = vec3(1.0) - _v3;\n    return _v4;\n"},
        {"uv transform",
         graph({constant(ExprOp::TexIndex, {3.9f}), xform}, 1),
         "    int _v0 = 3;\n    vec3 _v1 = sample_texture_rgb(_v0, (mat2(0.75,0.5,-0.5,0.75) * "
         "(uv * vec2(2.0,3.0)) + vec2(0.25,0.5)));\n    return _v1;\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(albedo_function(unit_with_albedo(c.g)),
                  std::string("vec3 _albedo_fn_0(int mid, vec2 uv, bool have_uv, float time) {\n") +
                      c.body + "}\n")
            << c.what;
}

TEST(GlslText, EveryOpcodeHasItsText) {
    // Inputs 0 (vec3), 1 (float), 2 (vec3) are referred to by the nodes
    // under test at index 3.
    const std::vector<ExprNode> base = {constant(ExprOp::ConstVec3, {1, 2, 3}),
                                        constant(ExprOp::ConstFloat, {1}),
                                        constant(ExprOp::ConstVec3, {4, 5, 6})};
    const struct { ExprNode n; const char* text; } cases[] = {
        {param(ExprOp::ParamFloat, 13), "gmat_alpha_cutoff(mid)"},
        {param(ExprOp::ParamVec3, 5), "gmat_emission(mid)"},
        {param(ExprOp::ParamInt, 12), "gmat_alpha_mode(mid)"},
        {param(ExprOp::ParamInt, 14), "0"},
        {param(ExprOp::ParamFloat, -1), "0"},
        {node(ExprOp::TexRgb1D, 0, 1), "sample_texture_rgb(_v0, vec2(_v1, 0.5))"},
        {node(ExprOp::TexScalar1D, 0, 1), "sample_texture_scalar(_v0, vec2(_v1, 0.5))"},
        {node(ExprOp::TexScalar, 2), "sample_texture_scalar(_v2, uv)"},
        {node(ExprOp::Add, 0, 2), "_v0 + _v2"},
        {node(ExprOp::Sub, 2, 0), "_v2 - _v0"},
        {node(ExprOp::Mix, 0, 2, 1), "mix(_v0, _v2, _v1)"},
        {node(ExprOp::Invert, 0), "vec3(1.0) - _v0"},
        {node(ExprOp::Invert, 1), "1.0 - _v1"},
        {node(ExprOp::Clamp, 0, 1, 1), "clamp(_v0, _v1, _v1)"},
        {node(ExprOp::Pow, 0, 2), "pow(_v0, _v2)"},
        {node(ExprOp::Sqrt, 1), "sqrt(_v1)"},
        {node(ExprOp::Abs, 2), "abs(_v2)"},
        {node(ExprOp::Dot, 0, 2), "dot(_v0, _v2)"},
        {node(ExprOp::SplitR, 0), "_v0.r"},
        {node(ExprOp::SplitG, 0), "_v0.g"},
        {node(ExprOp::SplitB, 2), "_v2.b"},
        {node(ExprOp::CombineRgb, 1, 1, 1), "vec3(_v1, _v1, _v1)"},
        {node(ExprOp::LerpTime, 0, 2), "mix(_v0, _v2, time)"},
        {node(ExprOp::Time), "time"},
        {node(ExprOp::IfUv, 0, 2), "have_uv ? _v0 : _v2"},
        {node(ExprOp::NormalMap, 1), "vec3(0.0)"},
        {node(ExprOp::NormalNone), "vec3(0.0)"},
        {node(static_cast<ExprOp>(77)), "vec3(0.0)"},
    };
    for (const auto& c : cases) {
        std::vector<ExprNode> nodes = base;
        nodes.push_back(c.n);
        EXPECT_EQ(emit_node_inline(graph(nodes, 3), 3), c.text) << expr_op_name(c.n.op);
    }
    EXPECT_EQ(emit_node_inline(graph(base, 0), 3), "0");
}
