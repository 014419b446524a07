// Triangle order for acceleration-structure builds.
//
// Drivers build their own BVHs from a mesh, but some take the order they
// are given: lavapipe (Mesa's CPU driver) halves the triangle list at its
// middle index, level by level, without looking at positions. A mesh whose
// triangles come in no spatial order then gets a tree in which every node
// spans the whole mesh: with its triangles shuffled, a scene of three
// spheres traced in 24 s instead of 0.85 s. Preparation therefore puts each
// mesh's triangles into Morton order, whose halves, and halves of halves,
// are compact, when that order is clearly better than the one the mesh
// came in; a mesh in a good order of its own (a modelling tool's usually
// is) keeps it. For drivers with their own builder the order makes no
// difference.
#pragma once

#include <cstdint>
#include <vector>

#include "scene/scene.h"

// Cost of the tree a halving builder makes from `order` (triangle indices of
// `mesh`): the summed surface areas of its node boxes, a ray's expected
// number of box tests up to a constant.
double halving_tree_cost(const MeshData& mesh, const std::vector<uint32_t>& order);

// Morton order of `mesh`'s triangles (a permutation of their indices) when
// its halving tree costs less than kTriangleOrderGain times that of the
// mesh's own order, else an empty list: the mesh stays as it is.
// Deterministic.
inline constexpr double kTriangleOrderGain = 0.8;
std::vector<uint32_t> trace_triangle_order(const MeshData& mesh);

// Reorders, in place, the triangles of every mesh not ordered yet (a
// permutation from trace_triangle_order): indices, face normals and face
// materials, and the face materials of every instance of the mesh, so that
// triangle t keeps its vertices and materials wherever it moves. Marks the
// meshes ordered, so later preparations leave them alone.
void order_scene_triangles(Scene& scene);
