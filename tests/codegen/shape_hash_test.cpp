// The host-or-default graph choice, structural hashing, reachability and
// first-appearance numbering. (What the default graphs compute is checked
// on the GPU against the generic material unit.)
#include <gtest/gtest.h>

#include <cmath>

#include "codegen/default_graphs.h"
#include "codegen/material_codegen.h"
#include "codegen/shape_hash.h"
#include "codegen_test_util.h"

using namespace codegen_test;

namespace {

uint64_t hash_of(std::vector<ExprNode> nodes, int root) { return expr_shape_hash(graph(std::move(nodes), root)); }

}  // namespace

TEST(DefaultGraphs, HostGraphIsChosenOnlyWhenItsRootIndexesANode) {
    const Material m = material_with(3);
    std::vector<MaterialExprData> exprs(2);
    exprs[0].roughness = graph({constant(ExprOp::ConstFloat, {0.25f})}, 0);
    // The albedo pool holds nodes but no root was named for it.
    exprs[0].albedo = graph({constant(ExprOp::ConstVec3, {1, 1, 1})}, -1);
    exprs[1].metallic = graph({constant(ExprOp::ConstFloat, {1})}, 1);

    EXPECT_EQ(choose_expr_graph(m, 0, &exprs, 1).nodes[0].value[0], 0.25f);
    EXPECT_EQ(choose_expr_graph(m, 0, &exprs, 0).nodes.size(), 4u);  // default, textured
    EXPECT_EQ(choose_expr_graph(m, 1, &exprs, 2).nodes[0].op, ExprOp::ParamFloat);
    // Past the end of the list, and without a list, defaults are used.
    EXPECT_EQ(choose_expr_graph(m, 2, &exprs, 1).nodes[0].op, ExprOp::ParamFloat);
    EXPECT_EQ(choose_expr_graph(m, 0, nullptr, 1).nodes[0].op, ExprOp::ParamFloat);
}

TEST(ShapeHash, DefaultGraphsIgnoreColoursAndTextureIndices) {
    Material a = material_with(3);
    a.base_color[0] = 0.2f;
    Material b = material_with(7);
    b.base_color[2] = 0.9f;
    b.roughness = 0.1f;
    for (int slot = 0; slot < kExprSlotCount; ++slot)
        EXPECT_EQ(expr_shape_hash(build_default_expr(a, slot)),
                  expr_shape_hash(build_default_expr(b, slot)))
            << slot;
    EXPECT_NE(expr_shape_hash(build_albedo_expr(a)), expr_shape_hash(build_albedo_expr(material_with(-1))));
}

TEST(ShapeHash, SeesConstantsTextureIndicesAndInputOrder) {
    auto one = [](ExprNode n) { return expr_shape_hash(graph({n}, 0)); };
    EXPECT_NE(one(constant(ExprOp::ConstFloat, {0.5f})), one(constant(ExprOp::ConstFloat, {0.25f})));
    EXPECT_NE(one(constant(ExprOp::ConstFloat, {0.0f})), one(constant(ExprOp::ConstFloat, {-0.0f})));
    EXPECT_NE(one(constant(ExprOp::ConstVec3, {0, 0, 1})), one(constant(ExprOp::ConstVec3, {0, 1, 0})));
    EXPECT_NE(one(constant(ExprOp::TexIndex, {3})), one(constant(ExprOp::TexIndex, {7})));
    // The slot enters as slot + 1: the largest one must not overflow.
    EXPECT_NE(one(param(ExprOp::ParamInt, INT32_MAX)), one(param(ExprOp::ParamInt, INT32_MAX - 1)));
    EXPECT_EQ(expr_shape_hash(ExprGraph{}), 0u);
    EXPECT_EQ(expr_shape_hash(graph({node(ExprOp::Time)}, -1)), 0u);

    const std::vector<ExprNode> leaves = {param(ExprOp::ParamFloat, 1), node(ExprOp::Time)};
    auto mul = [&](int a, int b) {
        std::vector<ExprNode> nodes = leaves;
        nodes.push_back(node(ExprOp::Mul, a, b));
        return expr_shape_hash(graph(nodes, 2));
    };
    EXPECT_NE(mul(0, 1), mul(1, 0));
}

TEST(ShapeHash, UnreachableNodesAndNodeIndicesDoNotCount) {
    const ExprGraph plain = graph({constant(ExprOp::ConstFloat, {2}), node(ExprOp::Sqrt, 0)}, 1);
    const ExprGraph padded =
        graph({node(ExprOp::Time), constant(ExprOp::ConstFloat, {2}), constant(ExprOp::ConstVec3, {1, 2, 3}),
               node(ExprOp::Sqrt, 1), node(ExprOp::Abs, 3)},
              3);
    EXPECT_EQ(expr_shape_hash(plain), expr_shape_hash(padded));
}

// A node shared by several inputs hashes as its copies would: 64 chained
// Add(x, x) (one hash per path would take 2^64 steps) against the tree of
// distinct copies for a small depth.
TEST(ShapeHash, SharedNodesAreHashedOnceWithUnchangedValues) {
    std::vector<ExprNode> shared = {node(ExprOp::Time)};
    for (int i = 1; i <= 64; ++i) shared.push_back(node(ExprOp::Add, i - 1, i - 1));
    EXPECT_NE(hash_of(shared, 64), 0u);  // and finishes
    const std::vector<ExprNode> tree = {node(ExprOp::Time),      node(ExprOp::Time),      node(ExprOp::Add, 0, 1),
                                        node(ExprOp::Time),      node(ExprOp::Time),      node(ExprOp::Add, 3, 4),
                                        node(ExprOp::Add, 2, 5)};
    EXPECT_EQ(hash_of(shared, 2), hash_of(tree, 6));
}

// Dangling, self, forward-cyclic and very deep references terminate; an
// input outside the list counts as no input.
TEST(ShapeHash, MalformedGraphsTerminate) {
    const uint64_t bare = hash_of({node(ExprOp::Sqrt)}, 0);
    EXPECT_EQ(hash_of({node(ExprOp::Sqrt, 99)}, 0), bare);
    EXPECT_EQ(hash_of({node(ExprOp::Sqrt, 0)}, 0), bare);
    EXPECT_EQ(hash_node(graph({node(ExprOp::Time)}, 0), 5), 0u);
    EXPECT_EQ(hash_of({node(ExprOp::Time)}, 3), 0u);
    const ExprGraph cycle = graph({node(ExprOp::Add, 1, 1), node(ExprOp::Abs, 0)}, 0);
    EXPECT_EQ(expr_shape_hash(cycle), expr_shape_hash(cycle));

    constexpr int kDeep = 200000;
    std::vector<ExprNode> deep = {node(ExprOp::Time)};
    for (int i = 1; i < kDeep; ++i) deep.push_back(node(ExprOp::Abs, i - 1));
    EXPECT_NE(hash_of(deep, kDeep - 1), 0u);
    std::vector<bool> seen(deep.size());
    mark_reachable(graph(deep, kDeep - 1), kDeep - 1, seen);
    EXPECT_TRUE(seen.front());
}

TEST(Reachability, MarksEveryInputAndSkipsOutsideIndices) {
    const ExprGraph g = graph({node(ExprOp::Time), node(ExprOp::Time), node(ExprOp::Sqrt, 0, 7),
                               node(ExprOp::Abs, 2, -1, 3), node(ExprOp::Time)},
                              3);
    std::vector<bool> seen(g.nodes.size());
    mark_reachable(g, g.root, seen);
    EXPECT_EQ(seen, (std::vector<bool>{true, false, true, true, false}));
    std::vector<bool> none(g.nodes.size());
    mark_reachable(g, 5, none);
    mark_reachable(g, -1, none);
    EXPECT_EQ(none, std::vector<bool>(g.nodes.size()));
}

TEST(Numbering, FirstAppearanceOrderAcrossMaterials) {
    const ExprGraph p = graph({param(ExprOp::ParamVec3, 0)}, 0);
    const ExprGraph q = graph({constant(ExprOp::ConstVec3, {1, 0, 0})}, 0);
    const ExprGraph r = graph({node(ExprOp::Time), node(ExprOp::CombineRgb, 0, 0, 0)}, 1);
    std::string out;
    gen_param("_albedo_fn_", "eval_albedo", "vec3", "vec3(1.0)", {p, q, p, r}, out);
    EXPECT_EQ(out.find("_albedo_fn_3"), std::string::npos);
    EXPECT_EQ(dispatch(out, "albedo"), (std::vector<int>{0, 1, 0, 2})) << out;
    // Function 2 is the text of R.
    EXPECT_NE(out.find("vec3 _albedo_fn_2(int mid, vec2 uv, bool have_uv, float time) {\n"
                       "    float _v0 = time;\n"
                       "    vec3 _v1 = vec3(_v0, _v0, _v0);\n"),
              std::string::npos);

    ShapeNumbering numbering;
    bool is_new = false;
    EXPECT_EQ(numbering.number(p, is_new), 0u);
    EXPECT_TRUE(is_new);
    EXPECT_EQ(numbering.number(q, is_new), 1u);
    EXPECT_EQ(numbering.number(p, is_new), 0u);
    EXPECT_FALSE(is_new);
    EXPECT_EQ(numbering.number(r, is_new), 2u);
    EXPECT_EQ(numbering.count(), 3u);
}

// With every graph hashing alike, only graphs of equal shape share a
// function, and each material calls the text of its own graph.
TEST(ShapeSharing, HashCollisionsNeverShareCode) {
    const auto colliding = [](const ExprGraph&) -> uint64_t { return 42; };
    const ExprGraph red = graph({constant(ExprOp::ConstVec3, {1, 0, 0})}, 0);
    const ExprGraph green = graph({constant(ExprOp::ConstVec3, {0, 1, 0})}, 0);
    const ExprGraph base = graph({param(ExprOp::ParamVec3, 0)}, 0);
    const ExprGraph red_again = graph(
        {constant(ExprOp::ConstFloat, {7}), constant(ExprOp::ConstVec3, {1, 0, 0})}, 1);
    const std::vector<ExprGraph> graphs = {red, green, base, red_again};
    std::string out;
    gen_param("_albedo_fn_", "eval_albedo", "vec3", "vec3(1.0)", graphs, out, colliding);
    EXPECT_EQ(dispatch(out, "albedo"), (std::vector<int>{0, 1, 2, 0})) << out;
    EXPECT_NE(out.find("_albedo_fn_1(int mid, vec2 uv, bool have_uv, float time) {\n"
                       "    vec3 _v0 = vec3(0.0, 1.0, 0.0);\n"),
              std::string::npos)
        << out;
    EXPECT_TRUE(same_shape(red, red_again));
    EXPECT_FALSE(same_shape(red, green));
    EXPECT_FALSE(same_shape(red, base));
}
