// Structural hashing of expression graphs, reachability, and the numbering
// that lets materials of equal shape share one generated function.
//
// The hash sees opcodes, parameter slots, the exact bits of constants (0.0
// and -0.0 differ), TexIndex values and the inputs in slot order; it does
// not see node indices, unreachable nodes or run-time parameter values.
//
// Host graphs are untrusted, so every walk here is iterative (no recursion
// depth tied to graph depth) and never leaves the node list: an input index
// at or past the node count hashes like an absent input (0), and an input
// that leads back to a node whose hash is still being computed (a cycle)
// hashes as 0 too. Each node is hashed once per call (memoised), which gives
// the same values as hashing every path separately on any acyclic graph.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "scene/vitrel_export.h"
#include "codegen/expr_ir.h"

constexpr uint64_t kShapeHashK = 0x9E3779B97F4A7C15ull;

// Hash of the subgraph below node i; 0 for a negative or out-of-range i.
uint64_t hash_node(const ExprGraph& graph, int32_t i);

// hash_node at the root; 0 for an empty graph or a root outside the list.
VITREL_EXPORT uint64_t expr_shape_hash(const ExprGraph& graph);

// Sets seen[k] for every node k reachable from i through any of the three
// inputs (used or not), ignoring indices outside the list. `seen` must have
// one entry per node.
void mark_reachable(const ExprGraph& graph, int32_t i, std::vector<bool>& seen);

// Whether the subgraphs below the roots of a and b are equal in everything
// the hash sees: opcodes, parameter slots, the bits of the constants their
// opcodes use and the inputs in slot order (absent and out-of-list inputs
// alike). Iterative like the hash; a pair met again on a cycle counts as
// equal.
bool same_shape(const ExprGraph& a, const ExprGraph& b);

using ShapeHashFn = uint64_t (*)(const ExprGraph&);

// First-appearance numbering of shapes for one parameter kind. The hash only
// finds candidates: a graph shares a number only with an earlier graph of
// the same shape (same_shape), so a hash collision costs a function, never
// a material's code.
class ShapeNumbering {
public:
    explicit ShapeNumbering(ShapeHashFn hash = expr_shape_hash) : hash_(hash) {}

    // The function number of `graph`; `is_new` tells whether it was assigned
    // now (so the caller must emit the function). Earlier graphs are kept by
    // pointer and must outlive the numbering.
    uint32_t number(const ExprGraph& graph, bool& is_new);
    size_t count() const { return count_; }

private:
    struct Shape {
        const ExprGraph* graph;
        uint32_t number;
    };
    ShapeHashFn hash_;
    std::unordered_map<uint64_t, std::vector<Shape>> shapes_;
    uint32_t count_ = 0;
};
