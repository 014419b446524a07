// Material code generation at scale: the unit for 10,000 materials drawn
// from 50 host graph shapes, and hashing of one 10,000-node graph.
#include <benchmark/benchmark.h>

#include "codegen/material_codegen.h"
#include "codegen/shape_hash.h"

namespace {

constexpr size_t kMaterials = 10000;
constexpr int kShapes = 50;
constexpr int kLargeGraphNodes = 10000;

ExprNode constant(ExprOp op, float x, float y = 0.0f, float z = 0.0f) {
    ExprNode n = make_expr_node(op);
    n.value[0] = x;
    n.value[1] = y;
    n.value[2] = z;
    return n;
}

// Shape s: a texture blended with a tinted colour by an animated factor;
// the texture index and tint make the 50 shapes distinct.
ExprGraph albedo_shape(int s) {
    ExprGraph g;
    g.nodes = {constant(ExprOp::TexIndex, static_cast<float>(s)),
               make_expr_node(ExprOp::TexRgb, 0),
               constant(ExprOp::ConstVec3, 0.5f, 0.25f, static_cast<float>(s) / kShapes),
               make_expr_node(ExprOp::Time),
               make_expr_node(ExprOp::Mul, 1, 2),
               make_expr_node(ExprOp::Sqrt, 3),
               make_expr_node(ExprOp::Mix, 1, 4, 5),
               make_expr_node(ExprOp::IfUv, 6, 2)};
    g.root = 7;
    return g;
}

ExprGraph roughness_shape(int s) {
    ExprGraph g;
    g.nodes = {constant(ExprOp::TexIndex, static_cast<float>(s)), make_expr_node(ExprOp::TexScalar, 0),
               constant(ExprOp::ConstFloat, 0.1f * static_cast<float>(s % 7)),
               constant(ExprOp::ConstFloat, 1.0f), make_expr_node(ExprOp::Clamp, 1, 2, 3)};
    g.root = 4;
    return g;
}

void BM_GenerateUnit(benchmark::State& state) {
    Scene scene;
    scene.materials.resize(kMaterials);
    std::vector<MaterialExprData> exprs(kMaterials);
    for (size_t i = 0; i < kMaterials; ++i) {
        const int s = static_cast<int>(i % kShapes);
        exprs[i].albedo = albedo_shape(s);
        exprs[i].roughness = roughness_shape(s);
        if (i % 3 == 0) scene.materials[i].normal_tex = 1;
    }
    size_t bytes = 0;
    for (auto _ : state) {
        std::string unit = generate_material_eval_glsl(scene, &exprs);
        bytes = unit.size();
        benchmark::DoNotOptimize(unit);
    }
    state.counters["unit_bytes"] = static_cast<double>(bytes);
    state.counters["materials/s"] =
        benchmark::Counter(static_cast<double>(kMaterials), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_GenerateUnit)->Unit(benchmark::kMillisecond);

// Every node reuses two earlier ones, so paths to the leaves are
// exponentially many; memoisation keeps the work linear.
void BM_HashLargeGraph(benchmark::State& state) {
    ExprGraph g;
    g.nodes.push_back(make_expr_node(ExprOp::Time));
    for (int k = 1; k < kLargeGraphNodes; ++k) g.nodes.push_back(make_expr_node(ExprOp::Add, k - 1, k / 2));
    g.root = kLargeGraphNodes - 1;
    for (auto _ : state) benchmark::DoNotOptimize(expr_shape_hash(g));
    state.counters["nodes/s"] = benchmark::Counter(static_cast<double>(kLargeGraphNodes),
                                                   benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_HashLargeGraph)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
