// Memoised, iterative structural hash and reachability marking.
#include "codegen/shape_hash.h"

#include <bit>
#include <set>
#include <utility>

namespace {

enum class Visit : uint8_t { Fresh, Open, Done };

bool in_list(const ExprGraph& graph, int32_t i) {
    return i >= 0 && static_cast<size_t>(i) < graph.nodes.size();
}

// How many of a node's values its opcode writes into the text.
int constant_count(ExprOp op) {
    switch (op) {
    case ExprOp::ConstFloat:
    case ExprOp::TexIndex: return 1;
    case ExprOp::ConstVec3: return 3;
    case ExprOp::TexRgbXform:
    case ExprOp::TexScalarXform: return 6;
    default: return 0;
    }
}

// The node's own contribution: opcode, parameter slot and constants.
uint64_t hash_own(const ExprNode& n) {
    const uint64_t k = kShapeHashK;
    // param + 1 wraps as a signed 32-bit value and is then sign-extended.
    const auto param1 = static_cast<int32_t>(static_cast<uint32_t>(n.param) + 1u);
    uint64_t h = static_cast<uint64_t>(static_cast<int64_t>(param1)) +
                 static_cast<uint64_t>(static_cast<uint8_t>(n.op)) * k;
    for (int c = 0; c < constant_count(n.op); ++c)
        h = h * k + static_cast<uint64_t>(std::bit_cast<uint32_t>(n.value[c]));
    return h;
}

}  // namespace

uint64_t hash_node(const ExprGraph& graph, int32_t i) {
    if (!in_list(graph, i)) return 0;
    const size_t n = graph.nodes.size();
    std::vector<Visit> state(n, Visit::Fresh);
    std::vector<uint64_t> memo(n, 0);

    // Post-order walk with an explicit stack: a node is finished once all
    // of its in-list inputs are finished or found open (a cycle).
    std::vector<int32_t> stack;
    stack.push_back(i);
    state[static_cast<size_t>(i)] = Visit::Open;
    while (!stack.empty()) {
        const int32_t top = stack.back();
        const ExprNode& node = graph.nodes[static_cast<size_t>(top)];
        bool pushed = false;
        for (int32_t in : node.in) {
            if (in_list(graph, in) && state[static_cast<size_t>(in)] == Visit::Fresh) {
                state[static_cast<size_t>(in)] = Visit::Open;
                stack.push_back(in);
                pushed = true;
                break;
            }
        }
        if (pushed) continue;
        uint64_t h = hash_own(node);
        for (int32_t in : node.in) {
            const bool finished = in_list(graph, in) && state[static_cast<size_t>(in)] == Visit::Done;
            h = h * kShapeHashK + (finished ? memo[static_cast<size_t>(in)] : 0);
        }
        memo[static_cast<size_t>(top)] = h;
        state[static_cast<size_t>(top)] = Visit::Done;
        stack.pop_back();
    }
    return memo[static_cast<size_t>(i)];
}

uint64_t expr_shape_hash(const ExprGraph& graph) { return hash_node(graph, graph.root); }

void mark_reachable(const ExprGraph& graph, int32_t i, std::vector<bool>& seen) {
    std::vector<int32_t> stack{i};
    while (!stack.empty()) {
        const int32_t k = stack.back();
        stack.pop_back();
        if (!in_list(graph, k) || static_cast<size_t>(k) >= seen.size() ||
            seen[static_cast<size_t>(k)])
            continue;
        seen[static_cast<size_t>(k)] = true;
        for (int32_t in : graph.nodes[static_cast<size_t>(k)].in) stack.push_back(in);
    }
}

bool same_shape(const ExprGraph& a, const ExprGraph& b) {
    const auto own_equal = [](const ExprNode& x, const ExprNode& y) {
        if (x.op != y.op || x.param != y.param) return false;
        for (int c = 0; c < constant_count(x.op); ++c)
            if (std::bit_cast<uint32_t>(x.value[c]) != std::bit_cast<uint32_t>(y.value[c]))
                return false;
        return true;
    };
    std::set<std::pair<int32_t, int32_t>> seen;
    std::vector<std::pair<int32_t, int32_t>> stack{{a.root, b.root}};
    while (!stack.empty()) {
        const auto [i, j] = stack.back();
        stack.pop_back();
        const bool in_a = in_list(a, i), in_b = in_list(b, j);
        if (in_a != in_b) return false;
        if (!in_a || !seen.insert({i, j}).second) continue;
        const ExprNode& x = a.nodes[static_cast<size_t>(i)];
        const ExprNode& y = b.nodes[static_cast<size_t>(j)];
        if (!own_equal(x, y)) return false;
        for (int k = 0; k < 3; ++k) stack.emplace_back(x.in[k], y.in[k]);
    }
    return true;
}

uint32_t ShapeNumbering::number(const ExprGraph& graph, bool& is_new) {
    std::vector<Shape>& candidates = shapes_[hash_(graph)];
    for (const Shape& shape : candidates) {
        if (same_shape(*shape.graph, graph)) {
            is_new = false;
            return shape.number;
        }
    }
    candidates.push_back({&graph, count_});
    is_new = true;
    return count_++;
}
