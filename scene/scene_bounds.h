// The sphere around every instance's triangles in world space, at shutter
// open and close: light paths leaving the environment start on a disk of
// its radius, so every ray from the environment that can meet the scene
// crosses that disk.
#pragma once

#include "scene/scene.h"

struct BoundingSphere {
    float centre[3] = {0.0f, 0.0f, 0.0f};
    float radius = 0.0f;  // 0 for a scene without (finite) geometry
};

// The sphere about the centre of the world-space bounding box that holds
// every transformed vertex of every instance (both transforms of a moving
// one). Vertices that are not finite, and instances naming a missing mesh,
// are left out.
BoundingSphere scene_bounding_sphere(const Scene& scene);

// The same sphere around one instance alone.
BoundingSphere instance_bounding_sphere(const Scene& scene, const Instance& inst);
