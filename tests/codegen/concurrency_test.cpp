// Expression calls from several host threads, and generation from several
// threads at once (it keeps no state of its own).
#include <gtest/gtest.h>

#include <thread>

#include "codegen/material_codegen.h"
#include "codegen_test_util.h"

using namespace codegen_test;

TEST(CodegenConcurrency, TexturePairsStayAdjacentUnderContention) {
    constexpr int kThreads = 4;
    constexpr int kPairsPerThread = 200;
    Ctx c;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&c, t] {
            for (int k = 0; k < kPairsPerThread; ++k) {
                if (vitrel_expr_tex_rgb(c.ctx, 0, t) < 0) return;
                vitrel_expr_time(c.ctx, 0);
            }
        });
    for (std::thread& th : threads) th.join();
    const std::vector<ExprNode>& pool = c.ctx->material_exprs[0].albedo.nodes;
    ASSERT_EQ(pool.size(), static_cast<size_t>(kThreads * kPairsPerThread * 3));
    for (size_t i = 0; i < pool.size(); ++i) {
        if (pool[i].op != ExprOp::TexRgb) continue;
        ASSERT_GT(i, 0u);
        EXPECT_EQ(pool[i].in[0], static_cast<int32_t>(i - 1));
        EXPECT_EQ(pool[i - 1].op, ExprOp::TexIndex);
    }
}

TEST(CodegenConcurrency, ParallelGenerationGivesEqualText) {
    Scene scene;
    for (int i = 0; i < 64; ++i) scene.materials.push_back(material_with(i % 3 - 1, i % 2 - 1));
    const std::string expected = generate_material_eval_glsl(scene, nullptr);
    std::string results[2];
    std::thread a([&] { results[0] = generate_material_eval_glsl(scene, nullptr); });
    std::thread b([&] { results[1] = generate_material_eval_glsl(scene, nullptr); });
    a.join();
    b.join();
    EXPECT_EQ(results[0], expected);
    EXPECT_EQ(results[1], expected);
}
