// Many host threads assembling one scene at once end with a consistent scene.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <thread>
#include <vector>

#include "test_helpers.h"

TEST(Concurrency, ParallelSceneAssemblyIsConsistent) {
    ContextGuard g;
    VitrelContext* ctx = g.ctx;
    ASSERT_EQ(add_plain_material(ctx), 0);
    ASSERT_EQ(add_triangle_mesh(ctx), 0);

    constexpr int kThreads = 8;
    constexpr int kPerThread = 60;
    std::vector<std::vector<int>> material_ids(kThreads), mesh_ids(kThreads), instance_ids(kThreads),
        texture_ids(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const unsigned char px[4] = {1, 2, 3, 4};
            for (int n = 0; n < kPerThread; ++n) {
                material_ids[t].push_back(add_plain_material(ctx, static_cast<float>(t), 0, 0));
                mesh_ids[t].push_back(add_triangle_mesh(ctx));
                const auto m = translation_matrix(static_cast<float>(t), static_cast<float>(n), 0);
                instance_ids[t].push_back(vitrel_add_instance(ctx, 0, 0, m.data()));
                texture_ids[t].push_back(vitrel_add_texture(ctx, px, 2, 2, 1, 0, 0));
                vitrel_set_material_alpha(ctx, 0, 1, 0.5f, 0.5f);
                vitrel_set_tile_size(ctx, 16 + t);
                (void)vitrel_get_total_samples(ctx);
            }
        });
    }
    for (auto& th : threads) th.join();

    const size_t total = kThreads * kPerThread;
    EXPECT_EQ(ctx->scene.materials.size(), total + 1);
    EXPECT_EQ(ctx->material_exprs.size(), total + 1);
    EXPECT_EQ(ctx->scene.meshes.size(), total + 1);
    EXPECT_EQ(ctx->scene.instances.size(), total);
    EXPECT_EQ(ctx->scene.textures.size(), total);

    auto expect_dense = [&](const std::vector<std::vector<int>>& ids, int first) {
        std::set<int> all;
        for (const auto& v : ids) all.insert(v.begin(), v.end());
        ASSERT_EQ(all.size(), total);
        EXPECT_EQ(*all.begin(), first);
        EXPECT_EQ(*all.rbegin(), first + static_cast<int>(total) - 1);
    };
    expect_dense(material_ids, 1);
    expect_dense(mesh_ids, 1);
    expect_dense(instance_ids, 0);
    expect_dense(texture_ids, 0);

    // Every record landed whole under the id its call returned.
    for (int t = 0; t < kThreads; ++t) {
        for (int n = 0; n < kPerThread; ++n) {
            const Material& m = ctx->scene.materials[static_cast<size_t>(material_ids[t][n])];
            EXPECT_EQ(m.base_color[0], static_cast<float>(t));
            const Instance& inst = ctx->scene.instances[static_cast<size_t>(instance_ids[t][n])];
            EXPECT_EQ(inst.transform[3], static_cast<float>(t));
            EXPECT_EQ(inst.transform[7], static_cast<float>(n));
        }
    }
}
