// Structural and type checks for expression graphs before emission.
#include "codegen/graph_check.h"

#include <array>

#include "codegen/shape_hash.h"

namespace {

using T = ExprType;

constexpr std::array<const char*, kExprOpCount> kOpNames = {
    "ParamFloat", "ParamVec3", "ParamInt", "ConstFloat", "ConstVec3", "TexIndex",
    "TexRgb", "TexScalar", "TexRgbXform", "TexScalarXform", "TexRgb1D", "TexScalar1D",
    "IfUv", "Mul", "Add", "Sub", "Mix", "Invert", "Clamp", "Pow", "Sqrt", "Abs", "Dot",
    "SplitR", "SplitG", "SplitB", "CombineRgb", "LerpTime", "Time", "NormalMap", "NormalNone"};

bool numeric(T t) { return t == T::Float || t == T::Vec3; }
bool scalar(T t) { return t == T::Float || t == T::Int; }

// Whether the types of a node's used inputs (a, b, c) make its GLSL text,
// assigned to a variable of the node's type, compile. GLSL converts int to
// float implicitly (so a float or vec3 operation may take int operands) and
// allows .r of a scalar; what it rejects is float to int (an int-typed node
// whose text yields a float), scalars where a vec3 is needed and the other
// swizzles of a scalar.
bool operands_fit(const ExprNode& n, T a, T b, T c) {
    switch (n.op) {
    case ExprOp::ParamFloat:
        return !field_slot_valid(n.param) || scalar(field_table[static_cast<size_t>(n.param)].type);
    case ExprOp::ParamVec3:
        return field_slot_valid(n.param) && field_table[static_cast<size_t>(n.param)].type == T::Vec3;
    case ExprOp::ParamInt:
        return !field_slot_valid(n.param) || field_table[static_cast<size_t>(n.param)].type == T::Int;
    case ExprOp::TexRgb:
    case ExprOp::TexScalar:
    case ExprOp::TexRgbXform:
    case ExprOp::TexScalarXform: return a == T::Int;
    case ExprOp::TexRgb1D:
    case ExprOp::TexScalar1D: return a == T::Int && scalar(b);
    case ExprOp::IfUv: return a == b || (a == T::Float && b == T::Int);
    case ExprOp::Mul:
    case ExprOp::Add:
    case ExprOp::Sub: return a == b || (a == T::Float && b == T::Int) || (a == T::Vec3 && scalar(b));
    case ExprOp::Mix:
        return (a == T::Float && scalar(b) && scalar(c)) || (a == T::Vec3 && b == T::Vec3);
    case ExprOp::Invert:
    case ExprOp::Sqrt: return numeric(a);
    case ExprOp::Clamp:
        if (a == T::Int) return b == T::Int && c == T::Int;
        if (a == T::Float) return scalar(b) && scalar(c);
        return (scalar(b) && scalar(c)) || (b == T::Vec3 && c == T::Vec3);
    case ExprOp::Pow:
    case ExprOp::LerpTime: return (a == T::Float && scalar(b)) || (a == T::Vec3 && b == T::Vec3);
    case ExprOp::Dot: return (scalar(a) && scalar(b)) || (a == T::Vec3 && b == T::Vec3);
    case ExprOp::SplitR: return true;
    case ExprOp::SplitG:
    case ExprOp::SplitB: return a == T::Vec3;
    // The last argument of a constructor may be partly used.
    case ExprOp::CombineRgb: return scalar(a) && scalar(b);
    default: return true;
    }
}

T slot_type(int slot) {
    return (slot == static_cast<int>(ExprSlot::Roughness) ||
            slot == static_cast<int>(ExprSlot::Metallic))
               ? T::Float
               : T::Vec3;
}

bool check_normal(const ExprGraph& graph, std::string& why) {
    const ExprNode& root = graph.nodes[static_cast<size_t>(graph.root)];
    if (root.op != ExprOp::NormalMap) return true;
    const int32_t t = root.in[0];
    if (t < 0 || static_cast<size_t>(t) >= graph.nodes.size()) {
        why = "the NormalMap root has no texture-index input";
        return false;
    }
    const ExprNode& tex = graph.nodes[static_cast<size_t>(t)];
    const bool fits = tex.op == ExprOp::TexIndex ||
                      (tex.op == ExprOp::ParamInt && operands_fit(tex, T::Int, T::Int, T::Int));
    if (!fits) {
        why = "the NormalMap texture index is not a TexIndex or integer parameter node";
        return false;
    }
    return true;
}

}  // namespace

int expr_op_used_inputs(ExprOp op) {
    switch (op) {
    case ExprOp::TexRgb:
    case ExprOp::TexScalar:
    case ExprOp::TexRgbXform:
    case ExprOp::TexScalarXform:
    case ExprOp::Invert:
    case ExprOp::Sqrt:
    case ExprOp::Abs:
    case ExprOp::SplitR:
    case ExprOp::SplitG:
    case ExprOp::SplitB: return 1;
    case ExprOp::TexRgb1D:
    case ExprOp::TexScalar1D:
    case ExprOp::IfUv:
    case ExprOp::Mul:
    case ExprOp::Add:
    case ExprOp::Sub:
    case ExprOp::Pow:
    case ExprOp::Dot:
    case ExprOp::LerpTime: return 2;
    case ExprOp::Mix:
    case ExprOp::Clamp:
    case ExprOp::CombineRgb: return 3;
    default: return 0;
    }
}

std::string expr_op_name(ExprOp op) {
    const auto o = static_cast<unsigned>(op);
    if (o < kExprOpCount) return kOpNames[o];
    return "op" + std::to_string(o);
}

EmitPlan plan_emission(const ExprGraph& graph) {
    const size_t n = graph.nodes.size();
    EmitPlan plan;
    plan.reachable.assign(n, false);
    plan.types.assign(n, T::Float);
    // Every input, used or not, makes a node reachable, exactly as the
    // emitter declares variables.
    mark_reachable(graph, graph.root, plan.reachable);
    for (size_t k = 0; k < n; ++k) {
        const ExprNode& node = graph.nodes[k];
        const int32_t in = node.in[0];
        const bool earlier = expr_op_used_inputs(node.op) > 0 && in >= 0 && static_cast<size_t>(in) < k;
        const T first = earlier ? plan.types[static_cast<size_t>(in)] : T::Float;
        plan.types[k] = expr_op_passes_type(node.op) ? first : expr_op_own_type(node.op);
    }
    return plan;
}

bool check_emittable(const ExprGraph& graph, int slot, EmitPlan& plan, std::string& why) {
    const size_t n = graph.nodes.size();
    if (graph.root < 0 || static_cast<size_t>(graph.root) >= n) {
        why = "the root is not one of its nodes";
        return false;
    }
    if (slot == static_cast<int>(ExprSlot::Normal)) return check_normal(graph, why);

    plan = plan_emission(graph);
    for (size_t k = 0; k < n; ++k) {
        if (!plan.reachable[k]) continue;
        const ExprNode& node = graph.nodes[k];
        const int used = expr_op_used_inputs(node.op);
        T t[3] = {T::Float, T::Float, T::Float};
        for (int j = 0; j < used; ++j) {
            const int32_t in = node.in[j];
            if (in < 0 || static_cast<size_t>(in) >= k) {
                why = "node " + std::to_string(k) + " (" + expr_op_name(node.op) + ") input " +
                      std::to_string(j) + " is " + std::to_string(in) + ", not an earlier node";
                return false;
            }
            t[j] = plan.types[static_cast<size_t>(in)];
        }
        if (!operands_fit(node, t[0], t[1], t[2])) {
            why = "node " + std::to_string(k) + " (" + expr_op_name(node.op) +
                  ") has operands of unsuitable types";
            return false;
        }
    }
    // A float function may return an int (converted); vec3 needs a vec3.
    const T root_type = plan.types[static_cast<size_t>(graph.root)];
    if (root_type != slot_type(slot) && !(root_type == T::Int && slot_type(slot) == T::Float)) {
        why = std::string("the result is ") + expr_type_name(root_type) + ", not " +
              expr_type_name(slot_type(slot));
        return false;
    }
    return true;
}
