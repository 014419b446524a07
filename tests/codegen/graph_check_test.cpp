// Host graphs that cannot be written as valid GLSL fall back to their
// slot's default graph with one line on standard error; usable ones are
// emitted unchanged.
#include <gtest/gtest.h>

#include <algorithm>

#include "codegen/default_graphs.h"
#include "codegen/graph_check.h"
#include "codegen/material_codegen.h"
#include "codegen_test_util.h"

using namespace codegen_test;

namespace {

struct Outcome {
    std::string unit;
    std::string errors;
};

// Generates the unit for `count` untextured materials where material
// `material` has `g` in slot `slot`.
Outcome generate_with(const ExprGraph& g, int slot, int material = 0, int count = 1) {
    Scene scene;
    scene.materials.assign(static_cast<size_t>(count), material_with(-1));
    std::vector<MaterialExprData> exprs(static_cast<size_t>(count));
    expr_slot(exprs[static_cast<size_t>(material)], slot) = g;
    testing::internal::CaptureStderr();
    Outcome o;
    o.unit = generate_material_eval_glsl(scene, &exprs);
    o.errors = testing::internal::GetCapturedStderr();
    return o;
}

bool accepted(const ExprGraph& g, int slot) {
    EmitPlan plan;
    std::string why;
    return check_emittable(g, slot, plan, why);
}

const std::string kDefaultAlbedo =
    "vec3 _albedo_fn_0(int mid, vec2 uv, bool have_uv, float time) {\n"
    "    vec3 _v0 = gmat_base_color(mid);\n"
    "    return _v0;\n"
    "}\n";

int line_count(const std::string& s) { return static_cast<int>(std::count(s.begin(), s.end(), '\n')); }

}  // namespace

TEST(GraphFallback, DanglingInputFallsBackWithOneLine) {
    const Outcome o = generate_with(
        graph({constant(ExprOp::ConstVec3, {1, 1, 1}), node(ExprOp::Mul, 0, 99)}, 1), 0);
    EXPECT_EQ(o.errors,
              "Material 0: albedo expression graph not usable (node 1 (Mul) input 1 is 99, not an "
              "earlier node); using the default graph\n");
    EXPECT_NE(o.unit.find(kDefaultAlbedo), std::string::npos);
    EXPECT_EQ(o.unit.find("_v99"), std::string::npos);
    // Forward, self and cyclic references: GlslCompile.MalformedGraphs.
    const ExprGraph negative = graph({constant(ExprOp::ConstVec3, {1, 2, 3}), node(ExprOp::Mul, 0, -1)}, 1);
    EXPECT_FALSE(accepted(negative, 0));
    EXPECT_EQ(line_count(generate_with(negative, 0).errors), 1);
}

TEST(GraphFallback, TheMessageNamesMaterialAndSlotAndOthersAreUntouched) {
    // Material 2 of 3: a vec3 where roughness needs a float.
    const Outcome o = generate_with(graph({constant(ExprOp::ConstVec3, {1, 2, 3})}, 0), 1, 2, 3);
    EXPECT_EQ(o.errors,
              "Material 2: roughness expression graph not usable (the result is vec3, not float); "
              "using the default graph\n");
    EXPECT_EQ(o.unit.find("switch"), std::string::npos);
    EXPECT_NE(o.unit.find("float _v0 = gmat_roughness(mid);"), std::string::npos);
}

TEST(GraphFallback, UnusedInputsAreNotFollowedIntoErrors) {
    // Sqrt uses one input; its second one points past the list.
    const ExprGraph g = graph({constant(ExprOp::ConstVec3, {1, 2, 3}), node(ExprOp::Sqrt, 0, 99)}, 1);
    const Outcome o = generate_with(g, 0);
    EXPECT_TRUE(o.errors.empty());
    EXPECT_NE(o.unit.find("    vec3 _v1 = sqrt(_v0);\n"), std::string::npos);
}

TEST(GraphFallback, NormalMapNeedsAnIntegerIndexNode) {
    const ExprGraph good = graph({constant(ExprOp::TexIndex, {5}), node(ExprOp::NormalMap, 0)}, 1);
    const Outcome ok = generate_with(good, 3);
    EXPECT_TRUE(ok.errors.empty());
    EXPECT_NE(ok.unit.find("    int _tex = 5;\n    if (!have_uv) return Ns_f;\n"), std::string::npos);

    const ExprGraph forward = graph({node(ExprOp::NormalMap, 1), param(ExprOp::ParamInt, 9)}, 0);
    EXPECT_TRUE(generate_with(forward, 3).errors.empty());
    EXPECT_NE(generate_with(forward, 3).unit.find("    int _tex = gmat_normal_tex(mid);\n"),
              std::string::npos);

    for (const ExprGraph& bad :
         {graph({constant(ExprOp::ConstFloat, {5}), node(ExprOp::NormalMap, 0)}, 1),
          graph({node(ExprOp::NormalMap, 7)}, 0), graph({node(ExprOp::NormalMap, 0)}, 0),
          graph({param(ExprOp::ParamInt, 1), node(ExprOp::NormalMap, 0)}, 1),
          graph({node(ExprOp::Time), node(ExprOp::TexRgb, 0), node(ExprOp::NormalMap, 1)}, 2)}) {
        const Outcome o = generate_with(bad, 3);
        EXPECT_EQ(line_count(o.errors), 1) << o.errors;
        EXPECT_NE(o.errors.find("normal expression graph"), std::string::npos);
        EXPECT_EQ(o.unit.find("_tex"), std::string::npos);
    }
    // Any other root leaves the normal unperturbed, whatever its inputs.
    const Outcome other = generate_with(graph({node(ExprOp::Mul, 5, 0)}, 0), 3);
    EXPECT_TRUE(other.errors.empty());
    EXPECT_NE(other.unit.find("barycentrics) {\n    return Ns_f;\n}\n"), std::string::npos);
}

TEST(GraphFallback, DeepGraphsNeitherOverflowNorHang) {
    constexpr int kDepth = 100000;
    std::vector<ExprNode> chain = {constant(ExprOp::ConstFloat, {1})};
    for (int k = 1; k < kDepth; ++k) chain.push_back(node(ExprOp::Abs, k - 1));
    const Outcome deep = generate_with(graph(chain, kDepth - 1), 1);
    EXPECT_TRUE(deep.errors.empty());
    EXPECT_NE(deep.unit.find("    float _v99999 = abs(_v99998);\n    return _v99999;\n"),
              std::string::npos);

    // The same chain closed into a loop through its first node.
    chain[0] = node(ExprOp::Abs, kDepth - 1);
    const Outcome loop = generate_with(graph(chain, kDepth - 1), 1);
    EXPECT_EQ(line_count(loop.errors), 1);
    EXPECT_NE(loop.errors.find("node 0 (Abs) input 0 is 99999"), std::string::npos);
}
