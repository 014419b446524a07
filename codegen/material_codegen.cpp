// GLSL text of the material-evaluation unit. The text is an interface to
// the renderer's shader programs, so every piece below is spelled exactly.
#include "codegen/material_codegen.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "codegen/default_graphs.h"
#include "codegen/graph_check.h"
#include "codegen/shape_hash.h"

namespace {

// "%.9g" never needs more; the buffer is bounded regardless.
constexpr size_t kLiteralBuffer = 32;
constexpr int kLiteralDigits = 9;  // round-trips every float
// Texture indices are written as GLSL int literals; the most negative int
// has no literal form, so indices saturate one short of it.
constexpr double kTexIndexLimit = 2147483647.0;

constexpr const char* kUniformParams = "(int mid, vec2 uv, bool have_uv, float time";
constexpr const char* kUniformArgs = "(mid, uv, have_uv, time";
constexpr const char* kNormalParams =
    "(int mid, vec2 uv, bool have_uv, float time, vec3 Ns_f, vec3 Ng_f,\n"
    "    uint instanceIdx, int primitiveId, vec2 barycentrics)";
constexpr const char* kNormalArgs =
    "(mid, uv, have_uv, time, Ns_f, Ng_f, instanceIdx, primitiveId, barycentrics)";

constexpr const char* kSlotNames[kExprSlotCount] = {"albedo", "roughness", "metallic", "normal",
                                                    "emission"};

std::string var(int32_t i) { return "_v" + std::to_string(i); }

std::string tex_index_text(float v) {
    if (std::isnan(v)) return "0";
    const double t = std::trunc(static_cast<double>(v));
    const double clamped = t < -kTexIndexLimit ? -kTexIndexLimit
                                               : (t > kTexIndexLimit ? kTexIndexLimit : t);
    return std::to_string(static_cast<int64_t>(clamped));
}

// The rotated, scaled and offset UV of the transform-sampling opcodes. The
// matrix's second entry is the negated sine; when the sine's literal is
// already negative, its minus sign is dropped instead of writing "--",
// which GLSL reads as a decrement.
std::string uv_transform(const ExprNode& n) {
    const std::string s = flit(n.value[4]);
    const std::string c = flit(n.value[5]);
    const std::string neg_s = (!s.empty() && s[0] == '-') ? s.substr(1) : "-" + s;
    return "(mat2(" + c + "," + neg_s + "," + s + "," + c + ") * (uv * vec2(" + flit(n.value[0]) +
           "," + flit(n.value[1]) + ")) + vec2(" + flit(n.value[2]) + "," + flit(n.value[3]) + "))";
}

std::string param_text(const ExprNode& n) {
    if (!field_slot_valid(n.param)) return "0";
    return std::string(field_table[static_cast<size_t>(n.param)].accessor) + "(mid)";
}

std::string node_text(const ExprNode& n, ExprType first_input_type) {
    const std::string a = var(n.in[0]);
    const std::string b = var(n.in[1]);
    const std::string c = var(n.in[2]);
    switch (n.op) {
    case ExprOp::ParamFloat:
    case ExprOp::ParamVec3:
    case ExprOp::ParamInt: return param_text(n);
    case ExprOp::ConstFloat: return flit(n.value[0]);
    case ExprOp::ConstVec3:
        return "vec3(" + flit(n.value[0]) + ", " + flit(n.value[1]) + ", " + flit(n.value[2]) + ")";
    case ExprOp::TexIndex: return tex_index_text(n.value[0]);
    case ExprOp::TexRgb: return "sample_texture_rgb(" + a + ", uv)";
    case ExprOp::TexScalar: return "sample_texture_scalar(" + a + ", uv)";
    case ExprOp::TexRgbXform: return "sample_texture_rgb(" + a + ", " + uv_transform(n) + ")";
    case ExprOp::TexScalarXform: return "sample_texture_scalar(" + a + ", " + uv_transform(n) + ")";
    case ExprOp::TexRgb1D: return "sample_texture_rgb(" + a + ", vec2(" + b + ", 0.5))";
    case ExprOp::TexScalar1D: return "sample_texture_scalar(" + a + ", vec2(" + b + ", 0.5))";
    case ExprOp::IfUv: return "have_uv ? " + a + " : " + b;
    case ExprOp::Mul: return a + " * " + b;
    case ExprOp::Add: return a + " + " + b;
    case ExprOp::Sub: return a + " - " + b;
    case ExprOp::Mix: return "mix(" + a + ", " + b + ", " + c + ")";
    case ExprOp::Invert:
        return (first_input_type == ExprType::Vec3 ? "vec3(1.0) - " : "1.0 - ") + a;
    case ExprOp::Clamp: return "clamp(" + a + ", " + b + ", " + c + ")";
    case ExprOp::Pow: return "pow(" + a + ", " + b + ")";
    case ExprOp::Sqrt: return "sqrt(" + a + ")";
    case ExprOp::Abs: return "abs(" + a + ")";
    case ExprOp::Dot: return "dot(" + a + ", " + b + ")";
    case ExprOp::SplitR: return a + ".r";
    case ExprOp::SplitG: return a + ".g";
    case ExprOp::SplitB: return a + ".b";
    case ExprOp::CombineRgb: return "vec3(" + a + ", " + b + ", " + c + ")";
    case ExprOp::LerpTime: return "mix(" + a + ", " + b + ", time)";
    case ExprOp::Time: return "time";
    default: return "vec3(0.0)";
    }
}

void append_function(const char* prefix, const char* type, const char* fallback, uint32_t number,
                     const ExprGraph& graph, int slot, std::string& out) {
    const std::string name = prefix + std::to_string(number);
    EmitPlan plan;
    std::string why;
    if (check_emittable(graph, slot, plan, why)) {
        out += graph_function_text(graph, type, name);
        return;
    }
    out += type;
    out += ' ';
    out += name;
    out += kUniformParams;
    out += ") {\n    return ";
    out += fallback;
    out += ";\n}\n";
}

int slot_for_type(const char* type) {
    // gen_param serves the four non-normal kinds; the result type is all
    // the checker needs to tell them apart.
    return std::string(type) == "float" ? static_cast<int>(ExprSlot::Roughness)
                                        : static_cast<int>(ExprSlot::Albedo);
}

void append_normal_body(const ExprGraph& graph, std::string& out) {
    EmitPlan plan;
    std::string why;
    const bool mapped = check_emittable(graph, static_cast<int>(ExprSlot::Normal), plan, why) &&
                        graph.nodes[static_cast<size_t>(graph.root)].op == ExprOp::NormalMap;
    if (!mapped) {
        out += "    return Ns_f;\n";
        return;
    }
    out += "    int _tex = ";
    out += emit_node_inline(graph, graph.nodes[static_cast<size_t>(graph.root)].in[0]);
    out += ";\n";
    out += "    if (!have_uv) return Ns_f;\n"
           "    vec3 tangent_ws;\n"
           "    if (!read_tangent(instanceIdx, primitiveId, barycentrics, tangent_ws)) return Ns_f;\n"
           "    tangent_ws = normalize(tangent_ws - dot(tangent_ws, Ns_f) * Ns_f);\n"
           "    vec3 bitangent_ws = cross(Ns_f, tangent_ws);\n"
           "    vec3 nm = sample_texture_rgb(_tex, uv) * 2.0 - 1.0;\n"
           "    vec3 perturbed = normalize(tangent_ws * nm.x + Ns_f * nm.z + bitangent_ws * nm.y);\n"
           "    return (dot(perturbed, Ng_f) > 0.0) ? perturbed : Ns_f;\n";
}

void append_stubs(std::string& out) {
    out += "vec3 eval_albedo(int mid, vec2 uv, bool have_uv, float time) { return vec3(1.0); }\n"
           "float eval_roughness(int mid, vec2 uv, bool have_uv, float time) { return 0.5; }\n"
           "float eval_metallic(int mid, vec2 uv, bool have_uv, float time) { return 0.0; }\n"
           "vec3 eval_normal_map(int mid, vec2 uv, bool have_uv, float time, vec3 Ns_f, vec3 Ng_f,\n"
           "    uint instanceIdx, int primitiveId, vec2 barycentrics) { return Ns_f; }\n"
           "vec3 eval_emission(int mid, vec2 uv, bool have_uv, float time) { return vec3(0.0); }\n";
}

}  // namespace

std::string flit(float f) {
    if (std::isnan(f)) return "0.0";
    if (std::isinf(f)) return f > 0.0f ? "3.402823466e+38" : "-3.402823466e+38";
    // "%.9g" in the C locale: GLSL needs a point, whatever LC_NUMERIC says.
    char buf[kLiteralBuffer];
    const auto end = std::to_chars(buf, buf + sizeof buf, static_cast<double>(f),
                                   std::chars_format::general, kLiteralDigits).ptr;
    std::string s(buf, end);
    if (s.find_first_of(".eE") == std::string::npos) s += ".0";
    return s;
}

std::string graph_function_text(const ExprGraph& graph, const char* type, const std::string& name) {
    std::string out = std::string(type) + ' ' + name + kUniformParams + ") {\n";
    const EmitPlan plan = plan_emission(graph);
    for (size_t k = 0; k < graph.nodes.size(); ++k) {
        if (!plan.reachable[k]) continue;
        const ExprNode& n = graph.nodes[k];
        const int32_t in = n.in[0];
        const ExprType first = expr_op_used_inputs(n.op) > 0 && in >= 0 && static_cast<size_t>(in) < k
                                   ? plan.types[static_cast<size_t>(in)]
                                   : ExprType::Float;
        out += "    ";
        out += expr_type_name(plan.types[k]);
        out += " _v";
        out += std::to_string(k);
        out += " = ";
        out += node_text(n, first);
        out += ";\n";
    }
    out += "    return _v";
    out += std::to_string(graph.root);
    out += ";\n}\n";
    return out;
}

std::string emit_node_inline(const ExprGraph& graph, int32_t i) {
    if (i < 0 || static_cast<size_t>(i) >= graph.nodes.size()) return "0";
    const ExprNode& n = graph.nodes[static_cast<size_t>(i)];
    return node_text(n, expr_result_type(graph, n.in[0]));
}

void gen_param(const char* prefix, const char* entry, const char* type, const char* fallback,
               const std::vector<ExprGraph>& graphs, std::string& out, ShapeHashFn hash) {
    const int slot = slot_for_type(type);
    ShapeNumbering numbering(hash);
    std::vector<uint32_t> numbers(graphs.size());
    for (size_t i = 0; i < graphs.size(); ++i) {
        bool is_new = false;
        numbers[i] = numbering.number(graphs[i], is_new);
        if (is_new) append_function(prefix, type, fallback, numbers[i], graphs[i], slot, out);
    }
    out += '\n';
    out += type;
    out += ' ';
    out += entry;
    out += kUniformParams;
    out += ") {\n";
    if (numbering.count() == 1) {
        out += "    return ";
        out += prefix;
        out += "0";
        out += kUniformArgs;
        out += ");\n}\n\n";
        return;
    }
    out += "    switch(mid) {\n";
    for (size_t i = 0; i < graphs.size(); ++i) {
        out += "        case ";
        out += std::to_string(i);
        out += ": return ";
        out += prefix;
        out += std::to_string(numbers[i]);
        out += kUniformArgs;
        out += ");\n";
    }
    out += "    }\n    return ";
    out += fallback;
    out += ";\n}\n\n";
}

void gen_normal(const std::vector<ExprGraph>& graphs, std::string& out, ShapeHashFn hash) {
    ShapeNumbering numbering(hash);
    std::vector<uint32_t> numbers(graphs.size());
    for (size_t i = 0; i < graphs.size(); ++i) {
        bool is_new = false;
        numbers[i] = numbering.number(graphs[i], is_new);
        if (!is_new) continue;
        out += "vec3 _normal_fn_";
        out += std::to_string(numbers[i]);
        out += kNormalParams;
        out += " {\n";
        append_normal_body(graphs[i], out);
        out += "}\n";
    }
    out += "\nvec3 eval_normal_map";
    out += kNormalParams;
    out += " {\n";
    if (numbering.count() == 1) {
        out += "    return _normal_fn_0";
        out += kNormalArgs;
        out += ";\n}\n\n";
        return;
    }
    out += "    switch(mid) {\n";
    for (size_t i = 0; i < graphs.size(); ++i) {
        out += "        case ";
        out += std::to_string(i);
        out += ": return _normal_fn_";
        out += std::to_string(numbers[i]);
        out += kNormalArgs;
        out += ";\n";
    }
    out += "    }\n    return Ns_f;\n}\n\n";
}

ExprGraph choose_usable_graph(const Scene& scene, size_t index,
                              const std::vector<MaterialExprData>* exprs, int slot) {
    const Material& m = scene.materials[index];
    ExprGraph g = choose_expr_graph(m, index, exprs, slot);
    EmitPlan plan;
    std::string why;
    if (check_emittable(g, slot, plan, why)) return g;
    std::fprintf(stderr, "Material %zu: %s expression graph not usable (%s); using the default graph\n",
                 index, kSlotNames[slot], why.c_str());
    return build_default_expr(m, slot);
}

std::string generate_material_eval_glsl(const Scene& scene,
                                        const std::vector<MaterialExprData>* exprs) {
    const size_t m = scene.materials.size();
    std::string out = "// JIT-generated material evaluation (" + std::to_string(m) +
                      " materials, expression graph IR)\n"
                      "#ifndef MATERIAL_EVAL_GLSL\n#define MATERIAL_EVAL_GLSL\n\n";
    if (m == 0) {
        append_stubs(out);
        out += "#endif\n";
        return out;
    }
    std::vector<ExprGraph> slots[kExprSlotCount];
    for (auto& list : slots) list.reserve(m);
    for (size_t i = 0; i < m; ++i)
        for (int s = 0; s < kExprSlotCount; ++s)
            slots[s].push_back(choose_usable_graph(scene, i, exprs, s));

    gen_param("_albedo_fn_", "eval_albedo", "vec3", "vec3(1.0)", slots[0], out);
    gen_param("_roughness_fn_", "eval_roughness", "float", "0.5", slots[1], out);
    gen_param("_metallic_fn_", "eval_metallic", "float", "0.0", slots[2], out);
    gen_normal(slots[3], out);
    gen_param("_emission_fn_", "eval_emission", "vec3", "vec3(0.0)", slots[4], out);
    out += "#endif // MATERIAL_EVAL_GLSL\n";
    return out;
}
