// Scenes built in code for the path-tracer tests and benchmarks (spheres,
// quads, a uniform environment, the Cornell box of scenes/cornell_box.json)
// and a renderer prepared the way the library prepares one:
// build_scene_buffer, init, createPipelines, buildAccelerationStructures,
// createBuffers, createDescriptors, updateDescriptors. No test framework,
// so benchmarks link it too.
#pragma once

#include <string>

#include "gpu/vk_renderer.h"
#include "scene/render_output.h"
#include "scene/scene.h"

// Material helpers: Lambertian (specular 0), emitter, and whatever the
// caller edits afterwards.
Material diffuse_material(float albedo, float emission = 0.0f);
// Smooth clear glass, index 1.5.
Material glass_material();

// Appends a mesh and an instance of it with material `material`; returns
// the instance id.
int add_mesh_instance(Scene& scene, MeshData mesh, int material);
// UV sphere about `centre`, smooth normals, winding (and normals) facing
// outwards, or inwards with `inward`.
MeshData sphere_mesh(const float centre[3], float radius, bool inward = false, int rings = 24,
                     int segments = 48);
// Quad with corners a, b, c, d (counter-clockwise seen from its front),
// with uvs.
MeshData quad_mesh(const float a[3], const float b[3], const float c[3], const float d[3]);
// A 1 x 1 float environment map of radiance `value`.
void set_uniform_environment(Scene& scene, float value);
void set_camera(Scene& scene, const float position[3], const float look_at[3], float fov);
// The Cornell box from `path` (scenes/cornell_box.json): one mesh per
// material; without `with_blocks`, walls and light only. Throws
// std::runtime_error when the file is not a JSON object.
Scene cornell_box_scene(const std::string& path, bool with_blocks = true);

// A square floor at y = 0 (material 0, Lambertian `albedo`) under a square
// emitter at y = 1 (material 1, radiance `radiance`), facing the floor or
// away from it; no camera, no environment.
struct FloorUnderLamp {
    float floor_half_width;
    float lamp_half_width;
    float albedo;
    float radiance;
    bool lamp_faces_floor;
};
Scene floor_under_lamp(const FloorUnderLamp& shape);

// A glass sphere over a diffuse floor under a small square light, which
// focuses a caustic onto the floor; the camera sees floor, sphere and spot.
Scene caustic_scene();
// The empty Cornell box from `path` (no blocks) with a smooth glass sphere
// under its light, which focuses the light onto the floor.
Scene cornell_glass_scene(const std::string& path);

// Packs `scene` for `output` and runs every preparation step on a fresh
// renderer (device 0). `shaderSrcDir` may be empty (precompiled programs).
// Without `floatAtomics` the programs built for devices without float
// atomics are used even where the device has them.
void prepare_renderer(VkRenderer& renderer, Scene& scene, const RenderOutput& output,
                      bool validation, const std::string& shaderDir, const std::string& shaderSrcDir,
                      bool floatAtomics = true);
