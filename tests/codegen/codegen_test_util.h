// Helpers shared by the codegen tests: scenes of materials with chosen
// textures, host graphs written node by node, and a context wrapper.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "api/vitrel_api.h"
#include "api/vitrel_context.h"
#include "codegen/expr_ir.h"
#include "scene/scene.h"

namespace codegen_test {

inline Material material_with(int albedo_tex, int roughness_tex = -1, int metallic_tex = -1,
                              int normal_tex = -1, int emission_tex = -1) {
    Material m;
    m.albedo_tex = albedo_tex;
    m.roughness_tex = roughness_tex;
    m.metallic_tex = metallic_tex;
    m.normal_tex = normal_tex;
    m.emission_tex = emission_tex;
    return m;
}

inline ExprNode node(ExprOp op, int a = -1, int b = -1, int c = -1) {
    return make_expr_node(op, a, b, c);
}

inline ExprNode param(ExprOp op, int slot) { return make_param_node(op, slot); }

inline ExprNode constant(ExprOp op, std::initializer_list<float> values) {
    ExprNode n = node(op);
    int i = 0;
    for (float v : values) n.value[i++] = v;
    return n;
}

inline ExprGraph graph(std::vector<ExprNode> nodes, int root) {
    ExprGraph g;
    g.nodes = std::move(nodes);
    g.root = root;
    return g;
}

// A context holding `count` materials without textures.
struct Ctx {
    VitrelContext* ctx = vitrel_create();
    explicit Ctx(int count = 1) {
        const float white[3] = {1.0f, 1.0f, 1.0f};
        const float black[3] = {0.0f, 0.0f, 0.0f};
        for (int i = 0; i < count; ++i)
            vitrel_add_material(ctx, white, black, -1, -1, -1, -1, 0.5f, 0.0f, 0.0f, 1.5f, 0.5f,
                                0.0f, 0, 0, 0, 0, 0, 0, 0);
    }
    ~Ctx() { vitrel_destroy(ctx); }
    Ctx(const Ctx&) = delete;
    Ctx& operator=(const Ctx&) = delete;
};

// The text between the first occurrence of `from` and the following
// occurrence of `to` (inclusive of both); empty when either is missing.
inline std::string section(const std::string& text, const std::string& from,
                           const std::string& to) {
    const size_t a = text.find(from);
    if (a == std::string::npos) return {};
    const size_t b = text.find(to, a + from.size());
    if (b == std::string::npos) return {};
    return text.substr(a, b + to.size() - a);
}

// The function number each `case N:` of the dispatcher of `kind` (e.g.
// "albedo") calls, at index N; -1 for a case that is missing.
inline std::vector<int> dispatch(const std::string& unit, const std::string& kind) {
    std::vector<int> fns;
    const std::string call = ": return _" + kind + "_fn_";
    for (size_t at = unit.find(call); at != std::string::npos; at = unit.find(call, at + 1)) {
        const size_t label = unit.rfind("case ", at);
        const size_t n = static_cast<size_t>(std::stoi(unit.substr(label + 5)));
        if (fns.size() <= n) fns.resize(n + 1, -1);
        fns[n] = std::stoi(unit.substr(at + call.size()));
    }
    return fns;
}

}  // namespace codegen_test
