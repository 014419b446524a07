// Memoised, iterative structural hash and reachability marking.
#include "codegen/shape_hash.h"

#include <bit>

namespace {

enum class Visit : uint8_t { Fresh, Open, Done };

bool in_list(const ExprGraph& graph, int32_t i) {
    return i >= 0 && static_cast<size_t>(i) < graph.nodes.size();
}

// The node's own contribution: opcode, parameter slot and constants.
uint64_t hash_own(const ExprNode& n) {
    const uint64_t k = kShapeHashK;
    // param + 1 wraps as a signed 32-bit value and is then sign-extended.
    const auto param1 = static_cast<int32_t>(static_cast<uint32_t>(n.param) + 1u);
    uint64_t h = static_cast<uint64_t>(static_cast<int64_t>(param1)) +
                 static_cast<uint64_t>(static_cast<uint8_t>(n.op)) * k;
    int constants = 0;
    switch (n.op) {
    case ExprOp::ConstFloat:
    case ExprOp::TexIndex: constants = 1; break;
    case ExprOp::ConstVec3: constants = 3; break;
    case ExprOp::TexRgbXform:
    case ExprOp::TexScalarXform: constants = 6; break;
    default: break;
    }
    for (int c = 0; c < constants; ++c)
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

uint32_t ShapeNumbering::number(uint64_t hash, bool& is_new) {
    const auto [it, inserted] = numbers.try_emplace(hash, static_cast<uint32_t>(numbers.size()));
    is_new = inserted;
    return it->second;
}
