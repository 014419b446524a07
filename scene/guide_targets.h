// Guide targets: world-space bounding spheres of the instances whose
// materials may scatter specularly. Light paths only count once they have
// passed a specular vertex, so emissive triangles aim part of their
// emitted directions at these spheres (light_guide.glsl). The emission
// density keeps the cosine lobe in its mixture, so any set of targets is
// unbiased: a material judged wrongly only costs noise.
#pragma once

#include <vector>

#include "scene/scene.h"
#include "scene/scene_bounds.h"

// Whether material `m` may give a specular vertex: its constant roughness
// is below SPECULAR_ROUGHNESS_MAX (or a texture sets it), and it may have
// no diffuse share (metallic, transmissive, black, or textured). A false
// answer is certain only for materials whose parameters no expression
// graph replaces.
bool material_may_be_specular(const Material& m);

// The targets of `scene`, at most GUIDE_TARGET_MAX: one sphere per instance
// with a possibly specular material (its own, or any of its or its mesh's
// face materials), covering both transforms of a moving instance.
// Instances with a transform that is not finite, a missing mesh or no
// finite vertex are left out. `graph_driven[i]` marks material i as
// possibly specular whatever its fields say (expression graphs set its
// parameters); it may be shorter than the material list. With more
// candidates than fit, the largest GUIDE_TARGET_MAX - 1 spheres are kept
// and the last target is one sphere around all the others, so every
// candidate stays covered.
std::vector<BoundingSphere> guide_targets(const Scene& scene, const std::vector<bool>& graph_driven);

// Writes guide_targets(scene, graph_driven) into `scene.scene_params`, which
// build_scene_buffer has filled: the count into SP_GUIDE_COUNT, the spheres
// after the extra-object and animation blocks (replacing any written
// before).
void write_guide_targets(Scene& scene, const std::vector<bool>& graph_driven);
