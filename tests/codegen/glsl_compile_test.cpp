// The generated unit compiles as GLSL for Vulkan 1.2 inside a small compute
// shader that provides what the unit requires: default graphs for every set
// of present textures, random well-typed host graphs over every opcode,
// graphs of arbitrary types (kept exactly when their text compiles), and
// malformed graphs.
#include <gtest/gtest.h>
#include <shaderc/shaderc.h>

#include <algorithm>
#include <limits>
#include <random>
#include <set>
#include <stdexcept>

#include "codegen/graph_check.h"
#include "codegen/material_codegen.h"
#include "codegen_test_util.h"
#include "gpu/shader_compiler.h"

using namespace codegen_test;

namespace {

const char* const kWrapper = R"(#version 460
#extension GL_GOOGLE_include_directive : require
layout(local_size_x = 1) in;
layout(std430, binding = 0) buffer Result { vec4 result[]; };

vec3 sample_texture_rgb(int tex, vec2 uv) { return vec3(float(tex), uv); }
float sample_texture_scalar(int tex, vec2 uv) { return float(tex) + uv.x; }
bool read_tangent(uint instanceIdx, int primitiveId, vec2 barycentrics, out vec3 tangent) {
    tangent = vec3(1.0, barycentrics);
    return primitiveId >= int(instanceIdx);
}
vec3 gmat_base_color(int mid) { return vec3(0.8); }
float gmat_roughness(int mid) { return 0.5; }
float gmat_metallic(int mid) { return 0.0; }
float gmat_specTrans(int mid) { return 0.0; }
float gmat_ior(int mid) { return 1.5; }
vec3 gmat_emission(int mid) { return vec3(0.0); }
int gmat_albedo_tex(int mid) { return 0; }
int gmat_roughness_tex(int mid) { return 1; }
int gmat_metallic_tex(int mid) { return 2; }
int gmat_normal_tex(int mid) { return 3; }
int gmat_emission_tex(int mid) { return 4; }
float gmat_alpha(int mid) { return 1.0; }
int gmat_alpha_mode(int mid) { return 0; }
float gmat_alpha_cutoff(int mid) { return 0.5; }

#include "material_eval.glsl"

void main() {
    int mid = int(gl_GlobalInvocationID.x);
    vec2 uv = vec2(0.25, 0.75);
    bool have_uv = (mid & 1) == 0;
    float time = 0.5;
    vec3 a = eval_albedo(mid, uv, have_uv, time);
    float r = eval_roughness(mid, uv, have_uv, time);
    float m = eval_metallic(mid, uv, have_uv, time);
    vec3 n = eval_normal_map(mid, uv, have_uv, time, vec3(0.0, 0.0, 1.0), vec3(0.0, 0.0, 1.0),
                             0u, mid, vec2(0.3, 0.3));
    vec3 e = eval_emission(mid, uv, have_uv, time);
    result[mid] = vec4(a + n + e, r + m);
}
)";

// Compiles the unit; returns the compiler's message, empty on success.
std::string compile_error(const std::string& unit) {
    const std::unordered_map<std::string, std::string> files = {{"material_eval.glsl", unit}};
    try {
        const std::vector<uint32_t> words = compile_glsl_words(
            kWrapper, "material_eval_test.comp", shaderc_glsl_compute_shader, "", {}, &files);
        if (words.empty()) return "no SPIR-V words";
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return {};
}

Scene untextured_scene(size_t count) {
    Scene s;
    s.materials.assign(count, material_with(-1));
    return s;
}

using T = ExprType;

// Builds random graphs node by node. With `typed` set it only combines
// operands the way GLSL accepts them, so every graph must pass the checks;
// otherwise operands are any earlier nodes.
class GraphMaker {
public:
    GraphMaker(uint32_t seed, bool typed) : rng_(seed), typed_(typed) {}

    ExprGraph make(int slot) {
        nodes_.clear();
        types_.clear();
        made_.clear();
        const int junk = below(3);
        for (int k = 0; k < junk; ++k) add_unreachable();
        int root = 0;
        if (slot == static_cast<int>(ExprSlot::Normal)) {
            root = make_normal();
        } else if (!typed_) {
            root = untyped(kMaxDepth);
        } else {
            const bool scalar_slot = slot == static_cast<int>(ExprSlot::Roughness) ||
                                     slot == static_cast<int>(ExprSlot::Metallic);
            root = typed(scalar_slot ? T::Float : T::Vec3, kMaxDepth);
        }
        if (below(2) == 0) add_unreachable();
        ExprGraph g;
        g.nodes = nodes_;
        g.root = root;
        return g;
    }

    const std::set<unsigned>& ops_used() const { return ops_; }

private:
    static constexpr int kMaxDepth = 4;

    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

    float any_float() {
        static constexpr float kSpecial[] = {0.0f, -0.0f, 1.0f, -2.0f, 0.1f, 1e10f, 1e-30f,
                                             std::numeric_limits<float>::infinity(),
                                             -std::numeric_limits<float>::infinity(),
                                             std::numeric_limits<float>::quiet_NaN()};
        if (below(3) == 0) return kSpecial[below(10)];
        return std::uniform_real_distribution<float>(-4.0f, 4.0f)(rng_);
    }

    int push(ExprNode n, T t) {
        ops_.insert(static_cast<unsigned>(n.op));
        nodes_.push_back(n);
        types_.push_back(t);
        return static_cast<int>(nodes_.size() - 1);
    }

    // A node nothing refers to; its inputs may point anywhere.
    void add_unreachable() {
        ExprNode n = node(static_cast<ExprOp>(below(kExprOpCount)), below(40) - 5, below(40) - 5,
                          below(40) - 5);
        n.value[0] = any_float();
        nodes_.push_back(n);
        types_.push_back(T::Float);
    }

    int leaf(T t) {
        switch (t) {
        case T::Int:
            if (below(2) == 0) {
                static constexpr int kIntSlots[] = {6, 7, 8, 9, 10, 12, -1, 20};
                return push(param(ExprOp::ParamInt, kIntSlots[below(8)]), t);
            }
            return push(constant(ExprOp::TexIndex, {static_cast<float>(below(40) - 3) + 0.5f}), t);
        case T::Float: {
            const int k = below(3);
            if (k == 0) {
                static constexpr int kScalarSlots[] = {1, 2, 3, 4, 11, 13, 6, 12, -1, 99};
                return push(param(ExprOp::ParamFloat, kScalarSlots[below(10)]), t);
            }
            if (k == 1) return push(constant(ExprOp::ConstFloat, {any_float()}), t);
            return push(node(ExprOp::Time), t);
        }
        case T::Vec3: {
            const int k = below(4);
            if (k == 0) return push(param(ExprOp::ParamVec3, below(2) == 0 ? 0 : 5), t);
            if (k == 1) return push(constant(ExprOp::ConstVec3, {any_float(), any_float(), any_float()}), t);
            if (k == 2) return push(node(ExprOp::NormalNone), t);
            const int idx = leaf(T::Int);
            return push(node(ExprOp::NormalMap, idx), t);
        }
        }
        return -1;
    }

    // An operand of type t: often an existing node (sharing), else new.
    int operand(T t, int depth) {
        if (below(3) == 0) {
            std::vector<int> same;
            for (size_t k = 0; k < types_.size(); ++k)
                if (types_[k] == t && nodes_[k].op != ExprOp::NormalMap) same.push_back(static_cast<int>(k));
            // Unreachable junk carries a placeholder type and must not be used.
            std::erase_if(same, [&](int k) { return !reachable_kind(k); });
            if (!same.empty()) return same[static_cast<size_t>(below(static_cast<int>(same.size())))];
        }
        return typed(t, depth);
    }

    bool reachable_kind(int k) const { return made_.count(k) != 0; }

    int push_made(ExprNode n, T t) {
        const int k = push(n, t);
        made_.insert(k);
        return k;
    }

    int typed(T t, int depth) {
        if (depth == 0 || below(4) == 0) {
            const int k = leaf(t);
            made_.insert(k);
            return k;
        }
        const int d = depth - 1;
        auto num = [&]() { return below(2) == 0 ? T::Float : T::Vec3; };
        auto scalar = [&]() { return below(2) == 0 ? T::Float : T::Int; };
        auto tex = [&](ExprOp op) {
            ExprNode n = node(op, operand(T::Int, d));
            if (op == ExprOp::TexRgbXform || op == ExprOp::TexScalarXform)
                for (float& v : n.value) v = any_float();
            if (op == ExprOp::TexRgb1D || op == ExprOp::TexScalar1D) n.in[1] = operand(scalar(), d);
            return push_made(n, t);
        };
        auto same2 = [&](ExprOp op, T u) {
            const int a = operand(u, d);
            const int b = operand(u, d);
            return push_made(node(op, a, b), t);
        };
        switch (t) {
        case T::Int:
            switch (below(4)) {
            case 0: return same2(ExprOp::IfUv, T::Int);
            case 1: return same2(static_cast<ExprOp>(static_cast<int>(ExprOp::Mul) + below(3)), T::Int);
            case 2: {
                const int a = operand(T::Int, d), b = operand(T::Int, d), c = operand(T::Int, d);
                return push_made(node(ExprOp::Clamp, a, b, c), t);
            }
            default: return push_made(node(ExprOp::Abs, operand(T::Int, d)), t);
            }
        case T::Float:
        case T::Vec3: {
            if (t == T::Float) {
                switch (below(8)) {
                case 0: return tex(ExprOp::TexScalar);
                case 1: return tex(ExprOp::TexScalarXform);
                case 2: return tex(ExprOp::TexScalar1D);
                case 3: {
                    const T u = num();
                    return same2(ExprOp::Dot, u);
                }
                case 4: {
                    const ExprOp split = static_cast<ExprOp>(static_cast<int>(ExprOp::SplitR) + below(3));
                    return push_made(node(split, operand(T::Vec3, d)), t);
                }
                default: break;
                }
            } else {
                switch (below(8)) {
                case 0: return tex(ExprOp::TexRgb);
                case 1: return tex(ExprOp::TexRgbXform);
                case 2: return tex(ExprOp::TexRgb1D);
                case 3: {
                    const int a = operand(scalar(), d), b = operand(scalar(), d), c = operand(scalar(), d);
                    return push_made(node(ExprOp::CombineRgb, a, b, c), t);
                }
                default: break;
                }
            }
            // Pass-through opcodes: the first operand has the result's type.
            switch (below(10)) {
            case 0: return same2(ExprOp::IfUv, t);
            case 1:
            case 2: {
                const ExprOp op = static_cast<ExprOp>(static_cast<int>(ExprOp::Mul) + below(3));
                const int a = operand(t, d);
                const int b = operand(t == T::Vec3 && below(2) == 0 ? T::Float : t, d);
                return push_made(node(op, a, b), t);
            }
            case 3: {
                const int a = operand(t, d), b = operand(t, d);
                const int c = operand(t == T::Vec3 && below(2) == 0 ? T::Vec3 : T::Float, d);
                return push_made(node(ExprOp::Mix, a, b, c), t);
            }
            case 4: return push_made(node(ExprOp::Invert, operand(t, d)), t);
            case 5: {
                const T bound = below(2) == 0 ? T::Float : t;
                const int a = operand(t, d), b = operand(bound, d), c = operand(bound, d);
                return push_made(node(ExprOp::Clamp, a, b, c), t);
            }
            case 6: return same2(ExprOp::Pow, t);
            case 7: return push_made(node(ExprOp::Sqrt, operand(t, d)), t);
            case 8: return push_made(node(ExprOp::Abs, operand(t, d)), t);
            default: return same2(ExprOp::LerpTime, t);
            }
        }
        }
        return -1;
    }

    // Random opcodes over random earlier operands, types ignored.
    int untyped(int depth) {
        if (depth == 0 || nodes_.empty() || below(4) == 0) {
            const T kinds[3] = {T::Float, T::Int, T::Vec3};
            return leaf(kinds[below(3)]);
        }
        const ExprOp op = static_cast<ExprOp>(below(kExprOpCount));
        ExprNode n = node(op);
        for (int j = 0; j < expr_op_used_inputs(op); ++j) n.in[j] = untyped(depth - 1);
        for (float& v : n.value) v = any_float();
        return push(n, T::Float);
    }

    int make_normal() {
        switch (below(4)) {
        case 0: return push(node(ExprOp::NormalNone), T::Vec3);
        case 1: {
            const int idx = leaf(T::Int);
            return push(node(ExprOp::NormalMap, idx), T::Vec3);
        }
        case 2: {
            // The index node after the NormalMap: written in place, so the
            // order does not matter.
            const int nm = push(node(ExprOp::NormalMap, static_cast<int>(nodes_.size()) + 1), T::Vec3);
            leaf(T::Int);
            return nm;
        }
        default: return typed_ ? typed(T::Vec3, 2) : untyped(2);
        }
    }

    std::mt19937 rng_;
    bool typed_;
    std::vector<ExprNode> nodes_;
    std::vector<T> types_;
    std::set<int> made_;
    std::set<unsigned> ops_;
};

}  // namespace

TEST(GlslCompile, NoMaterialsAndDefaultGraphsForEverySetOfTextures) {
    EXPECT_EQ(compile_error(generate_material_eval_glsl(Scene{}, nullptr)), "");
    constexpr int kSlots = 5;
    Scene scene;
    for (int mask = 0; mask < (1 << kSlots); ++mask) {
        auto tex = [&](int bit) { return (mask >> bit) & 1 ? bit + mask : -1; };
        scene.materials.push_back(material_with(tex(0), tex(1), tex(2), tex(3), tex(4)));
    }
    const std::string unit = generate_material_eval_glsl(scene, nullptr);
    EXPECT_NE(unit.find("        case 31: return _emission_fn_1("), std::string::npos);
    EXPECT_EQ(compile_error(unit), "");
}

TEST(GlslCompile, RandomWellTypedHostGraphsAreUsedAndCompile) {
    constexpr int kUnits = 4;
    constexpr size_t kMaterialsPerUnit = 60;
    GraphMaker maker(20240611u, true);
    for (int u = 0; u < kUnits; ++u) {
        const Scene scene = untextured_scene(kMaterialsPerUnit);
        std::vector<MaterialExprData> exprs(kMaterialsPerUnit);
        for (size_t m = 0; m < kMaterialsPerUnit; ++m) {
            for (int slot = 0; slot < kExprSlotCount; ++slot) {
                ExprGraph g = maker.make(slot);
                EmitPlan plan;
                std::string why;
                ASSERT_TRUE(check_emittable(g, slot, plan, why)) << "unit " << u << " material " << m
                                                                 << " slot " << slot << ": " << why;
                expr_slot(exprs[m], slot) = std::move(g);
            }
        }
        testing::internal::CaptureStderr();
        const std::string unit = generate_material_eval_glsl(scene, &exprs);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        const std::string error = compile_error(unit);
        EXPECT_EQ(error, "") << unit;
    }
    // Every opcode, and with them every result type, was exercised.
    EXPECT_EQ(maker.ops_used().size(), kExprOpCount);
}

bool kept(const ExprGraph& g, int slot) {
    EmitPlan plan;
    std::string why;
    return check_emittable(g, slot, plan, why);
}

// The function a graph becomes (or would become, were it kept), compiled
// on its own.
bool function_compiles(const ExprGraph& g, int slot) {
    const bool scalar_slot = slot == static_cast<int>(ExprSlot::Roughness) ||
                             slot == static_cast<int>(ExprSlot::Metallic);
    const std::string type = scalar_slot ? "float" : "vec3";
    std::string unit = graph_function_text(g, type.c_str(), "probe");
    unit += "vec3 eval_albedo(int mid, vec2 uv, bool have_uv, float time) { return vec3(probe(mid, uv, have_uv, time)); }\n"
            "float eval_roughness(int mid, vec2 uv, bool have_uv, float time) { return 0.5; }\n"
            "float eval_metallic(int mid, vec2 uv, bool have_uv, float time) { return 0.0; }\n"
            "vec3 eval_normal_map(int mid, vec2 uv, bool have_uv, float time, vec3 Ns_f, vec3 Ng_f,\n"
            "    uint instanceIdx, int primitiveId, vec2 barycentrics) { return Ns_f; }\n"
            "vec3 eval_emission(int mid, vec2 uv, bool have_uv, float time) { return vec3(0.0); }\n";
    return compile_error(unit).empty();
}

// A host graph is replaced exactly when its text would not compile: GLSL's
// own conversions (int to float, .r of a scalar, an int result returned as
// a float) keep a graph.
TEST(GlslCompile, GraphsAreKeptExactlyWhenTheirTextCompiles) {
    const ExprNode f = constant(ExprOp::ConstFloat, {1});
    const ExprNode v = constant(ExprOp::ConstVec3, {1, 2, 3});
    const ExprNode i = constant(ExprOp::TexIndex, {1});
    constexpr int kAlbedo = 0, kRoughness = 1;
    const struct { const char* what; ExprGraph g; int slot; bool keep; } cases[] = {
        {"int root of a float slot", graph({i}, 0), kRoughness, true},
        {"float.r", graph({f, node(ExprOp::SplitR, 0)}, 1), kRoughness, true},
        {"float.g", graph({f, node(ExprOp::SplitG, 0)}, 1), kRoughness, false},
        {"float + int", graph({f, i, node(ExprOp::Add, 0, 1)}, 2), kRoughness, true},
        {"int - float into an int", graph({i, f, node(ExprOp::Sub, 0, 1)}, 2), kRoughness, false},
        {"vec3 * int", graph({v, i, node(ExprOp::Mul, 0, 1)}, 2), kAlbedo, true},
        {"float + vec3 into a float", graph({f, v, node(ExprOp::Add, 0, 1)}, 2), kAlbedo, false},
        {"dot(int, float)", graph({i, f, node(ExprOp::Dot, 0, 1)}, 2), kRoughness, true},
        {"clamp(vec3, int, float)", graph({v, i, f, node(ExprOp::Clamp, 0, 1, 2)}, 3), kAlbedo, true},
        {"clamp(int, int, float)", graph({i, i, f, node(ExprOp::Clamp, 0, 1, 2)}, 3), kRoughness, false},
        {"mix(vec3, vec3, int)", graph({v, i, node(ExprOp::Mix, 0, 0, 1)}, 2), kAlbedo, true},
        {"mix(float, int, int)", graph({f, i, node(ExprOp::Mix, 0, 1, 1)}, 2), kRoughness, true},
        {"mix(vec3, float, float)", graph({v, f, node(ExprOp::Mix, 0, 1, 1)}, 2), kAlbedo, false},
        {"uv ? float : int", graph({f, i, node(ExprOp::IfUv, 0, 1)}, 2), kRoughness, true},
        {"uv ? int : float", graph({i, f, node(ExprOp::IfUv, 0, 1)}, 2), kRoughness, false},
        {"uv ? vec3 : float", graph({v, f, node(ExprOp::IfUv, 0, 1)}, 2), kAlbedo, false},
        {"lerp(float, int)", graph({f, i, node(ExprOp::LerpTime, 0, 1)}, 2), kRoughness, true},
        {"lerp(int, int)", graph({i, node(ExprOp::LerpTime, 0, 0)}, 1), kRoughness, false},
        {"1.0 - int", graph({i, node(ExprOp::Invert, 0)}, 1), kRoughness, false},
        {"vec3(float, float, vec3)", graph({f, v, node(ExprOp::CombineRgb, 0, 0, 1)}, 2), kAlbedo, true},
        {"vec3(vec3, float, float)", graph({f, v, node(ExprOp::CombineRgb, 1, 0, 0)}, 2), kAlbedo, false},
        {"float texture index", graph({f, node(ExprOp::TexRgb, 0)}, 1), kAlbedo, false},
        {"float accessor as vec3", graph({param(ExprOp::ParamVec3, 1)}, 0), kAlbedo, false},
        {"no accessor as vec3", graph({param(ExprOp::ParamVec3, 40)}, 0), kAlbedo, false},
        {"int accessor as float", graph({param(ExprOp::ParamFloat, 6)}, 0), kRoughness, true},
        {"float root of a vec3 slot", graph({f}, 0), kAlbedo, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(kept(c.g, c.slot), c.keep) << c.what;
        EXPECT_EQ(function_compiles(c.g, c.slot), c.keep) << c.what;
    }
    // Random graphs of arbitrary operand types, over every opcode.
    constexpr int kGraphs = 60;
    GraphMaker maker(4242u, false);
    int kept_count = 0;
    for (int n = 0; n < kGraphs; ++n) {
        const int slot = n % 2 == 0 ? kAlbedo : kRoughness;
        const ExprGraph g = maker.make(slot);
        const bool keep = kept(g, slot);
        kept_count += keep;
        ASSERT_EQ(keep, function_compiles(g, slot)) << graph_function_text(g, "T", "graph");
    }
    EXPECT_GT(kept_count, kGraphs / 10);
    EXPECT_LT(kept_count, kGraphs * 9 / 10);
}

TEST(GlslCompile, MalformedGraphsFallBackToCompilableText) {
    const std::vector<ExprGraph> bad = {
        graph({node(ExprOp::Mul, 0, 42)}, 0),                                     // dangling
        graph({node(ExprOp::Sqrt, 1), constant(ExprOp::ConstVec3, {1, 2, 3})}, 0),  // forward
        graph({node(ExprOp::Add, 1, 0), node(ExprOp::Abs, 0)}, 1),                  // cycle
        graph({node(ExprOp::Abs, 0)}, 0),                                           // self
        graph({constant(ExprOp::ConstFloat, {1}), node(ExprOp::SplitG, 0)}, 1),     // types
    };
    Scene scene = untextured_scene(bad.size() + 1);
    scene.materials[1].albedo_tex = 2;
    scene.materials[3].normal_tex = 1;
    std::vector<MaterialExprData> exprs(bad.size() + 1);
    for (size_t m = 0; m < bad.size(); ++m)
        for (int slot = 0; slot < kExprSlotCount; ++slot) expr_slot(exprs[m], slot) = bad[m];
    exprs.back().normal = graph({node(ExprOp::NormalMap, 0)}, 0);
    testing::internal::CaptureStderr();
    const std::string unit = generate_material_eval_glsl(scene, &exprs);
    const std::string errors = testing::internal::GetCapturedStderr();
    // Every non-normal slot of the five materials fell back. Normal slots
    // whose roots are not NormalMap are used (they yield the plain normal);
    // the last material's self-referencing NormalMap falls back.
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 4 * 5 + 1) << errors;
    EXPECT_NE(errors.find("Material 5: normal expression graph not usable"), std::string::npos);
    EXPECT_EQ(compile_error(unit), "");
}

TEST(GlslCompile, ADoubleMinusBeforeANegativeSineWouldNotCompile) {
    // Written literally, "-" before a negative sine reads as a decrement;
    // the harness must see that failure, and the generated form passes.
    ExprNode sampler = constant(ExprOp::TexRgbXform, {1.0f, 1.0f, 0.0f, 0.0f, -0.5f, 0.75f});
    sampler.in[0] = 0;
    std::vector<MaterialExprData> exprs(1);
    exprs[0].albedo = graph({constant(ExprOp::TexIndex, {1}), sampler}, 1);
    const std::string unit = generate_material_eval_glsl(untextured_scene(1), &exprs);
    const std::string generated = "mat2(0.75,0.5,-0.5,0.75)";
    const size_t at = unit.find(generated);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(compile_error(unit), "");
    std::string literal = unit;
    literal.replace(at, generated.size(), "mat2(0.75,--0.5,-0.5,0.75)");
    EXPECT_NE(compile_error(literal), "");
}
