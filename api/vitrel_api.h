/*
 * Vitrel: physically based path tracing on Vulkan ray-tracing GPUs.
 *
 * The flat call interface of libvitrel_api.so, usable from C99 and C++.
 *
 * Conventions shared by every call:
 * - Every call except vitrel_create and vitrel_enumerate_gpus takes the
 *   context first. A NULL context never faults: setters do nothing, calls
 *   with an int result return -1, calls returning a pointer return NULL,
 *   vitrel_get_last_error returns "" and the two status queries return 0.
 * - Results: 0 or a non-negative value (an id, a sample count) on success;
 *   -1 for a NULL context, an invalid argument or a call that needs a
 *   prepared context; -2 for a failed GPU preparation; -3 for a failed batch.
 * - Thread safety: each call holds its context's lock for its whole
 *   duration, so one context may be shared by several host threads; calls
 *   are serialised. Separate contexts share nothing.
 * - Ids of textures, materials, meshes, instances and expression nodes are
 *   dense zero-based indices in creation order; a rejected call consumes no
 *   id. Builders return the new id or -1; setters ignore out-of-range ids.
 * - Booleans are ints, non-zero meaning true. Vectors and colours are
 *   pointers to 3 floats. A transform is 16 floats of a column-major 4x4
 *   matrix (elements 12, 13, 14 are the translation); it is stored as its
 *   upper three rows, so the fourth row of a projective matrix is ignored.
 * - Scene and settings calls change host memory only. Their effect reaches
 *   the GPUs at the next vitrel_prepare unless a call says otherwise.
 */
#ifndef VITREL_API_H
#define VITREL_API_H

/* Self-contained so that the installed header needs no neighbour. */
#ifndef VITREL_EXPORT
#if defined(__GNUC__) || defined(__clang__)
#define VITREL_EXPORT __attribute__((visibility("default")))
#else
#define VITREL_EXPORT
#endif
#endif

/* No C++ exception leaves a call: a failure is reported by the call's result
 * (or, for a call without one, the call has no effect). Under C++ the
 * declarations say so, and the compiler holds the definitions to it. */
#ifndef VITREL_NOEXCEPT
#ifdef __cplusplus
#define VITREL_NOEXCEPT noexcept
#else
#define VITREL_NOEXCEPT
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct VitrelContext VitrelContext;

/* ---------------------------------------------------------------------
 * Lifecycle and status
 * --------------------------------------------------------------------- */

/* Allocates a context with an empty scene and default settings: 512 x 512
 * output, overscan 4, quality 2, 8 samples per batch, tile size 256, GPU 0
 * selected, the compiled-in shader directory and the "neutral" grading
 * preset. Touches no GPU. Returns NULL only if allocation fails. The host
 * owns the context until vitrel_destroy. */
VITREL_EXPORT VitrelContext* vitrel_create(void) VITREL_NOEXCEPT;

/* Destroys every renderer (releasing all GPU memory) and frees the context.
 * NULL is ignored. The context must not be used afterwards, and no other
 * call on it may be running or start. */
VITREL_EXPORT void vitrel_destroy(VitrelContext* ctx) VITREL_NOEXCEPT;

/* Destroys the renderers and replaces the scene (materials, meshes,
 * instances, textures, camera, environment, animation and expression
 * graphs) by an empty one. Keeps the output size, quality, shader
 * directories, samples per batch, trace parameter, tile size, GPU
 * selection, motion-blur data and AOV planes. Afterwards the context is
 * not prepared, the sample count is 0 and no 8-bit image is published.
 * NULL is ignored. */
VITREL_EXPORT void vitrel_scene_clear(VitrelContext* ctx) VITREL_NOEXCEPT;

/* 1 when the last vitrel_prepare succeeded and nothing has cleared the scene
 * since, else 0 (also for NULL). */
VITREL_EXPORT int vitrel_is_prepared(VitrelContext* ctx) VITREL_NOEXCEPT;

/* Samples per pixel accumulated since the last reset; 0 for NULL. Reads an
 * atomic counter without taking the context lock, so it may be called while
 * a batch runs on another thread; it never sees a partial batch. */
VITREL_EXPORT int vitrel_get_total_samples(VitrelContext* ctx) VITREL_NOEXCEPT;

/* Text of the last failed preparation or render batch, "" when none. Never
 * NULL (an empty string for a NULL context). A later success does not clear
 * it. The pointer stays valid until the next failure rewrites the text or
 * the context is destroyed. */
VITREL_EXPORT const char* vitrel_get_last_error(VitrelContext* ctx) VITREL_NOEXCEPT;

/* ---------------------------------------------------------------------
 * Scene assembly
 * --------------------------------------------------------------------- */

/* Adds a texture of width x height texels with `channels` components each
 * (1 to 4), rows top to bottom. When is_float is non-zero `data` points to
 * 32-bit floats (linear values), otherwise to bytes. flag1 non-zero marks
 * 8-bit texels as linear data (normal, roughness, metallic maps); with
 * flag1 0 an 8-bit texture is sRGB colour and is decoded to linear when
 * read as a colour. Scalar reads (roughness, metallic) take the first
 * channel as linear data either way. Texture coordinates repeat; v = 0 is
 * the first row, and lookups filter bilinearly. The texels are copied.
 * Returns the texture id, or -1 when data is NULL, width or height is below
 * 1, channels is outside 1 to 4, or the texels take more than 4 GiB (the
 * most the texture atlas can address). */
VITREL_EXPORT int vitrel_add_texture(VitrelContext* ctx, const void* data, int width, int height,
                                     int channels, int is_float, int flag1) VITREL_NOEXCEPT;

/* Adds a principled material and returns its id, or -1 when the context,
 * base_color or emission is NULL. base_color and emission point to 3 floats;
 * emission is radiance (any component above 0 turns instances using the
 * material into lights). The four texture arguments are texture ids, -1 for
 * none (not checked against the texture count; an id without a texture
 * reads as 0). roughness and metallic are in [0, 1] (perceptual roughness,
 * GGX alpha = roughness^2); spec_trans is the specular transmission weight
 * (glTF KHR_materials_transmission); ior the index of refraction, 0 meaning
 * 1.5; specular scales the dielectric Fresnel reflectance by 2 x specular,
 * so 0.5 is physical (4 % at ior 1.5) and corresponds to glTF
 * KHR_materials_specular factor 1. The remaining scalars, in glTF terms:
 *   extra_c   coat weight (KHR_materials_clearcoat factor); the coat is a
 *             dielectric layer over everything else, tinted by the coat
 *             colour (vitrel_set_material_coat_color)
 *   extra_p0  coat roughness          extra_p1  coat IOR (0 means 1.5)
 *   extra_p2  sheen weight (white sheen of that strength)
 *   extra_p3  sheen roughness
 *   extra_p4  specular anisotropy strength (KHR_materials_anisotropy):
 *             roughness stretched towards 1 along the tangent
 *   extra_p5  anisotropy rotation about the normal, fraction of a turn
 *   extra_p6  diffuse roughness, 0 = Lambert (rough diffuse otherwise)
 * Values outside [0, 1] are clamped where a weight or roughness is meant.
 * Other fields start at: subsurface 0, radius (1, 0.2, 0.1), scale 0.05,
 * subsurface_ext (1.4, 0), f82 tint, transmission and coat colours white,
 * transmission amount 0, not thin-walled, alpha 1 opaque with cutoff 0.5,
 * no emission texture. The material's reserved words (extra_a, extra_b) are
 * not read. Also gives the material an empty set of expression graphs.
 * Takes effect at the next vitrel_prepare. */
VITREL_EXPORT int vitrel_add_material(VitrelContext* ctx, const float* base_color,
                                      const float* emission, int albedo_tex, int roughness_tex,
                                      int metallic_tex, int normal_tex, float roughness,
                                      float metallic, float spec_trans, float ior, float specular,
                                      float extra_c, float extra_p0, float extra_p1,
                                      float extra_p2, float extra_p3, float extra_p4,
                                      float extra_p5, float extra_p6) VITREL_NOEXCEPT;

/* Adds a triangle mesh in object space and returns its id. positions holds
 * 3 floats per vertex, indices 3 unsigned 32-bit indices per triangle
 * (counter-clockwise order gives the front face). Optional arrays may be
 * NULL: normals (3 floats per vertex), uvs (2 per vertex), tangents (3 per
 * vertex), face_materials (one material id per triangle, 32-bit signed).
 * `material` is the mesh's material id. Everything is copied and face
 * normals are computed; a triangle that is degenerate or references a vertex
 * beyond vertex_count gets the normal (0, 1, 0). Returns -1 when positions
 * or indices is NULL or a count is below 1. */
VITREL_EXPORT int vitrel_add_mesh(VitrelContext* ctx, const float* positions, int vertex_count,
                                  const unsigned int* indices, int triangle_count,
                                  const float* normals, const float* uvs, const float* tangents,
                                  const int* face_materials, int material) VITREL_NOEXCEPT;

/* Places mesh `mesh` with material `material` and the object-to-world
 * transform `matrix` (16 floats, column-major). The instance copies the
 * mesh's per-triangle materials. Returns the instance id, or -1 when the
 * mesh or material id is out of range or matrix is NULL. */
VITREL_EXPORT int vitrel_add_instance(VitrelContext* ctx, int mesh, int material,
                                      const float* matrix) VITREL_NOEXCEPT;

/* Sets the camera: eye position, the point looked at and the up direction
 * (3 floats each; a NULL pointer makes the call do nothing), the vertical
 * field of view in degrees, the lens aperture (0 = pinhole) and the distance
 * of the plane in focus. Reaches a prepared renderer through vitrel_prepare
 * or vitrel_update_camera. A degenerate camera still renders: an eye equal
 * to its target looks down -z, and an up vector that is zero or parallel to
 * the view direction is replaced by +y, or by -z when the view runs along
 * the y axis (looking straight down, the top of the image faces -z). A
 * camera whose rays are not finite (a NaN or infinite position, or a field
 * of view that makes the image plane so) sees nothing: no ray is traced,
 * its samples are dropped and the passes report misses. */
VITREL_EXPORT void vitrel_set_camera(VitrelContext* ctx, const float* position,
                                     const float* look_at, const float* up, float fov,
                                     float aperture, float focus_distance) VITREL_NOEXCEPT;

/* Sets the environment map: width x height RGB texels of 32-bit floats
 * (linear radiance, latitude-longitude layout), copied into a new texture.
 * rotation is three Euler angles in degrees (NULL means none) and intensity
 * multiplies the radiance. A second call adds another texture and switches
 * to it. Returns 0, or -1 when data is NULL or a size is below 1. */
VITREL_EXPORT int vitrel_set_envmap(VitrelContext* ctx, const float* rgb, int width, int height,
                                    const float* rotation, float intensity) VITREL_NOEXCEPT;

/* Subsurface scattering of material `material`: weight in [0, 1] of a
 * random-walk subsurface medium under the surface, the per-channel mean
 * free path `radius` (3 floats; NULL keeps the current radius) and a scale
 * applied to it: the mean free path of channel c is radius[c] x scale
 * scene units. The weight is the share of the diffuse base (what the
 * specular layer lets through) that enters the body and scatters inside
 * it; the rest stays diffuse. The base colour is the colour the body shows
 * after all its internal scattering (its multiple-scattering albedo); the
 * single-scattering albedo is derived from it. The mesh must be closed;
 * other meshes inside it do not stop the light scattering there. Thin-walled materials, and a mean free path
 * of 0 in every channel, shade the subsurface share as diffuse. Ignored
 * for an out-of-range id. */
VITREL_EXPORT void vitrel_set_material_subsurface(VitrelContext* ctx, int material, float weight,
                                                  const float* radius, float scale) VITREL_NOEXCEPT;

/* Two further subsurface values: a = index of refraction of the
 * boundary that light crosses into and out of the subsurface medium (0
 * means 1.5; the material's roughness roughens it), b = scattering
 * anisotropy inside (Henyey-Greenstein g, clamped to [-0.99, 0.99]; > 0
 * scatters forwards). Ignored for an out-of-range id. */
VITREL_EXPORT void vitrel_set_material_subsurface_ext(VitrelContext* ctx, int material, float a,
                                                      float b) VITREL_NOEXCEPT;

/* Coverage, as glTF alphaMode: alpha_mode 0 opaque, 1 mask (covered where
 * alpha >= cutoff), 2 blend (stochastic transparency: a hit is kept with
 * probability alpha); any other mode is treated as opaque. alpha in
 * [0, 1]. Ignored for an out-of-range id. */
VITREL_EXPORT void vitrel_set_material_alpha(VitrelContext* ctx, int material, int alpha_mode,
                                             float alpha, float alpha_cutoff) VITREL_NOEXCEPT;

/* Texture id that multiplies the emission (-1 for none; not checked against
 * the texture count). Ignored for an out-of-range material id. */
VITREL_EXPORT void vitrel_set_material_emission_tex(VitrelContext* ctx, int material,
                                                    int texture) VITREL_NOEXCEPT;

/* Edge tint of metals (3 floats): the F82-tint model, which multiplies the
 * Schlick reflectance of the base colour by this tint at about 82 degrees
 * from the normal; white is plain Schlick. Ignored for an out-of-range id or
 * NULL. */
VITREL_EXPORT void vitrel_set_material_f82_tint(VitrelContext* ctx, int material,
                                                const float* tint) VITREL_NOEXCEPT;

/* Transmission colour (3 floats) and amount: the distance in scene units at
 * which light inside the body takes on the colour (as glTF
 * KHR_materials_volume attenuationColor and attenuationDistance): the body
 * absorbs by Beer-Lambert with sigma_a = -ln(color) / amount per channel,
 * so a path of length t inside keeps color^(t / amount). 0 applies the
 * colour once at each surface crossing instead, as thin-walled materials
 * always do. Absorption needs a closed mesh whose triangles face outwards
 * (counter-clockwise seen from outside). Transmission itself is the
 * material's spec_trans weight with its ior and roughness. Ignored for an
 * out-of-range id or a NULL colour. */
VITREL_EXPORT void vitrel_set_material_transmission(VitrelContext* ctx, int material,
                                                    const float* color, float amount)
    VITREL_NOEXCEPT;

/* Colour of the clear coat (3 floats): tints the light that passes through
 * the coat (the coat weight is extra_c of vitrel_add_material). Ignored for
 * an out-of-range id or NULL. */
VITREL_EXPORT void vitrel_set_material_coat_color(VitrelContext* ctx, int material,
                                                  const float* color) VITREL_NOEXCEPT;

/* Non-zero makes transmission and subsurface act as a thin sheet (glTF
 * KHR_materials_volume absent): light passes through without bending and
 * both faces look alike; the value is stored as given. Ignored for an
 * out-of-range id. */
VITREL_EXPORT void vitrel_set_material_thin_walled(VitrelContext* ctx, int material, int flag)
    VITREL_NOEXCEPT;

/* Replaces the transform of instance `instance` (16 floats, column-major).
 * Reaches a prepared renderer through vitrel_rebuild_tlas or vitrel_prepare.
 * Ignored for an out-of-range id or a NULL matrix. Motion-blur steps are not
 * touched. */
VITREL_EXPORT void vitrel_set_instance_transform(VitrelContext* ctx, int instance,
                                                 const float* matrix) VITREL_NOEXCEPT;

/* ---------------------------------------------------------------------
 * Camera animation and motion blur
 * --------------------------------------------------------------------- */

/* Removes the camera keyframes and resets the animation to no loop,
 * duration 0, 30 frames per second and a shutter of one frame. Motion-blur
 * data are kept. */
VITREL_EXPORT void vitrel_clear_animation(VitrelContext* ctx) VITREL_NOEXCEPT;

/* Sets looping, the duration in seconds and the frame rate of the camera
 * animation. Does not recompute the shutter in frames set by
 * vitrel_set_motion_blur. */
VITREL_EXPORT void vitrel_set_animation(VitrelContext* ctx, int loop, float duration, float fps)
    VITREL_NOEXCEPT;

/* Appends a camera keyframe at `time` seconds with eye position and look-at
 * point (3 floats each). Keyframes stay in insertion order. Ignored when a
 * pointer is NULL. At least two keyframes make an animation.
 *
 * How a render samples the animation: every sample takes its own time
 * t = u x shutter x (1 / fps), u uniform in [0, 1), on the keyframe time
 * axis starting at 0 (wrapped by the duration when looping, held at the
 * first or last keyframe otherwise); the camera is interpolated linearly
 * between the two keyframes around t, and t is also the `time` that
 * material expressions see. A render therefore shows the frame that starts
 * at time 0: to render frame f, add the keyframes with their times shifted
 * by -f / fps (and prepare again). */
VITREL_EXPORT void vitrel_add_keyframe(VitrelContext* ctx, const float* position,
                                       const float* look_at, float time) VITREL_NOEXCEPT;

/* Sets `steps` motion-blur time steps per batch (0 or 1 = off) and the
 * shutter as a fraction of a frame. Every instance's steps start equal to
 * its current transform; instances added later have no steps until this is
 * called again. Ignored when steps is negative. */
VITREL_EXPORT void vitrel_set_motion_blur(VitrelContext* ctx, int steps, float shutter)
    VITREL_NOEXCEPT;

/* Sets the transform (16 floats, column-major) of instance `instance` at
 * motion step `step`. Ignored when motion blur is off or either index is
 * out of range. Used by the next vitrel_render_batch. */
VITREL_EXPORT void vitrel_set_instance_transform_at(VitrelContext* ctx, int instance, int step,
                                                    const float* matrix) VITREL_NOEXCEPT;

/* ---------------------------------------------------------------------
 * Material expression graphs
 *
 * Five parameters of a material (slot 0 albedo, 1 roughness, 2 metallic,
 * 3 normal, 4 emission) can be driven by small expression graphs instead of
 * the constants and textures of vitrel_add_material. Each builder appends
 * one node to the material's node pool and returns its index: node indices
 * are per material, dense and zero-based. Build leaves first, then the
 * operators that use them, then name a root with vitrel_mat_set_expr.
 *
 * Every builder returns -1 for a NULL context or a material id that is
 * negative or not below the material count, and changes nothing then.
 * Node-index arguments are stored without a check. Values are float,
 * float triples (vec3) or int (texture indices); operators take the type of
 * their first operand unless said otherwise. All calls hold the context
 * lock and change host memory only: graphs reach the GPU when vitrel_prepare
 * next builds its renderers from scratch (a fast re-preparation keeps the
 * material code of the last full build).
 *
 * When the material code is generated, a slot whose root does not index a
 * node of its graph uses the default graph built from the material's
 * parameters. So does a graph that cannot be compiled: a used input that is
 * absent, not an earlier node (dangling, forward or self references), an
 * operand type the operator does not take as GLSL would compile it (for
 * example a texture index that is not an int, a float added to a vec3, or
 * the second component of a float; ints mix with floats as GLSL allows), a
 * root of the wrong type (vec3 for albedo, normal and emission; float or int
 * for roughness and metallic), or a NormalMap root whose texture index is
 * not a texture-index node or an integer parameter. Each such slot prints
 * one line naming the material, the slot and the reason to standard error;
 * the rest of the scene renders unchanged.
 * --------------------------------------------------------------------- */

/* Appends a float constant v to material `material`'s pool. Returns the node
 * index or -1. */
VITREL_EXPORT int vitrel_expr_const_float(VitrelContext* ctx, int material, float v)
    VITREL_NOEXCEPT;

/* Appends a vec3 constant (x, y, z), a colour or a direction. Returns the
 * node index or -1. */
VITREL_EXPORT int vitrel_expr_const_vec3(VitrelContext* ctx, int material, float x, float y,
                                         float z) VITREL_NOEXCEPT;

/* Appends two nodes: the texture index `texture` (int, not checked against
 * the texture count) and an RGB sample of that texture at the hit's UV
 * (vec3). Returns the index of the sample (the index node is the one before
 * it) or -1, in which case neither node is added. */
VITREL_EXPORT int vitrel_expr_tex_rgb(VitrelContext* ctx, int material, int texture)
    VITREL_NOEXCEPT;

/* As vitrel_expr_tex_rgb, but samples one channel (float). */
VITREL_EXPORT int vitrel_expr_tex_scalar(VitrelContext* ctx, int material, int texture)
    VITREL_NOEXCEPT;

/* As vitrel_expr_tex_rgb, sampled at a transformed UV: the UV is scaled by
 * (scale_u, scale_v), rotated by `rotation` radians and offset by
 * (offset_u, offset_v). The sine and cosine of the rotation are computed
 * once, here. Returns the sample's index or -1. */
VITREL_EXPORT int vitrel_expr_tex_rgb_xform(VitrelContext* ctx, int material, int texture,
                                            float scale_u, float scale_v, float offset_u,
                                            float offset_v, float rotation) VITREL_NOEXCEPT;

/* As vitrel_expr_tex_rgb_xform, sampling one channel (float). */
VITREL_EXPORT int vitrel_expr_tex_scalar_xform(VitrelContext* ctx, int material, int texture,
                                               float scale_u, float scale_v, float offset_u,
                                               float offset_v, float rotation) VITREL_NOEXCEPT;

/* Appends a texture index node and an RGB lookup of that texture used as a
 * 1-D ramp at (value of node `coordinate`, 0.5); the coordinate is a float
 * or int node. Returns the lookup's index or -1. */
VITREL_EXPORT int vitrel_expr_tex_rgb_1d(VitrelContext* ctx, int material, int texture,
                                         int coordinate) VITREL_NOEXCEPT;

/* As vitrel_expr_tex_rgb_1d, looking up one channel (float). */
VITREL_EXPORT int vitrel_expr_tex_scalar_1d(VitrelContext* ctx, int material, int texture,
                                            int coordinate) VITREL_NOEXCEPT;

/* Appends the animation time of the sample (float), as passed by the
 * renderer's programs. Returns the node index or -1. */
VITREL_EXPORT int vitrel_expr_time(VitrelContext* ctx, int material) VITREL_NOEXCEPT;

/* Appends a blend of nodes a and b (equal types, float or vec3) by the
 * animation time. Returns the node index or -1. */
VITREL_EXPORT int vitrel_expr_lerp_time(VitrelContext* ctx, int material, int a, int b)
    VITREL_NOEXCEPT;

/* Appends a * b: equal types, or a vec3 times a float. Returns the node
 * index or -1. */
VITREL_EXPORT int vitrel_expr_mul(VitrelContext* ctx, int material, int a, int b) VITREL_NOEXCEPT;

/* Appends a + b (types as for vitrel_expr_mul). Returns the node index or
 * -1. */
VITREL_EXPORT int vitrel_expr_add(VitrelContext* ctx, int material, int a, int b) VITREL_NOEXCEPT;

/* Appends a - b (types as for vitrel_expr_mul). Returns the node index or
 * -1. */
VITREL_EXPORT int vitrel_expr_sub(VitrelContext* ctx, int material, int a, int b) VITREL_NOEXCEPT;

/* Appends the linear blend of a and b (equal types, float or vec3) by t (a
 * float, or a vec3 when a is). Returns the node index or -1. */
VITREL_EXPORT int vitrel_expr_mix(VitrelContext* ctx, int material, int a, int b, int t)
    VITREL_NOEXCEPT;

/* Appends 1 - a, per component for a vec3 (a float or vec3). Returns the
 * node index or -1. */
VITREL_EXPORT int vitrel_expr_invert(VitrelContext* ctx, int material, int a) VITREL_NOEXCEPT;

/* Appends the absolute value of a (float, int or vec3). Returns the node
 * index or -1. */
VITREL_EXPORT int vitrel_expr_abs(VitrelContext* ctx, int material, int a) VITREL_NOEXCEPT;

/* Appends the square root of a (float or vec3). Returns the node index or
 * -1. */
VITREL_EXPORT int vitrel_expr_sqrt(VitrelContext* ctx, int material, int a) VITREL_NOEXCEPT;

/* Appends the dot product of a and b (equal types, float or vec3), a
 * float. Returns the node index or -1. */
VITREL_EXPORT int vitrel_expr_dot(VitrelContext* ctx, int material, int a, int b) VITREL_NOEXCEPT;

/* Appends a raised to the power b (equal types, float or vec3). Returns
 * the node index or -1. */
VITREL_EXPORT int vitrel_expr_pow(VitrelContext* ctx, int material, int a, int b) VITREL_NOEXCEPT;

/* Appends x clamped to [lo, hi]; lo and hi have x's type or are floats.
 * Returns the node index or -1. */
VITREL_EXPORT int vitrel_expr_clamp(VitrelContext* ctx, int material, int x, int lo, int hi)
    VITREL_NOEXCEPT;

/* Appends a choice: with_uv when the hit's mesh has texture coordinates,
 * else without_uv (equal types). Returns the node index or -1. */
VITREL_EXPORT int vitrel_expr_if_uv(VitrelContext* ctx, int material, int with_uv,
                                    int without_uv) VITREL_NOEXCEPT;

/* Appends the first component of vec3 node a (a float). Returns the node
 * index or -1. */
VITREL_EXPORT int vitrel_expr_split_r(VitrelContext* ctx, int material, int a) VITREL_NOEXCEPT;

/* Appends the second component of vec3 node a (a float). Returns the node
 * index or -1. */
VITREL_EXPORT int vitrel_expr_split_g(VitrelContext* ctx, int material, int a) VITREL_NOEXCEPT;

/* Appends the third component of vec3 node a (a float). Returns the node
 * index or -1. */
VITREL_EXPORT int vitrel_expr_split_b(VitrelContext* ctx, int material, int a) VITREL_NOEXCEPT;

/* Appends the vec3 (r, g, b) built from three float or int nodes. Returns
 * the node index or -1. */
VITREL_EXPORT int vitrel_expr_combine_rgb(VitrelContext* ctx, int material, int r, int g,
                                          int b) VITREL_NOEXCEPT;

/* Makes node `root` the root of slot `slot` (0 albedo, 1 roughness,
 * 2 metallic, 3 normal, 4 emission) of material `material`. Slots 1 to 4
 * copy the node pool as it is now, so nodes built later are not in them
 * until this is called again; slot 0 uses the pool itself. `root` is not
 * checked: -1 or any index outside the pool restores the default graph.
 * Ignored for a NULL context, a material id out of range or a slot outside
 * 0 to 4. No builder makes a normal-map node, so a host graph in slot 3
 * leaves the shading normal unperturbed (it turns a material's normal
 * texture off). */
VITREL_EXPORT void vitrel_mat_set_expr(VitrelContext* ctx, int material, int slot, int root)
    VITREL_NOEXCEPT;

/* ---------------------------------------------------------------------
 * GPU selection, preparation, batches and read-out
 * --------------------------------------------------------------------- */

/* Copies the names of the ray-tracing GPUs into `names`: name k at byte
 * offset k * stride, at most stride - 1 characters, and the rest of its
 * stride bytes zeroed (so it is always NUL-terminated), for at most
 * `max_count` GPUs. Nothing beyond stride x max_count bytes is written.
 * Returns the number of names written; 0 when names is NULL, stride or
 * max_count is below 1, or no Vulkan instance can be created. A name's
 * position is the GPU index used by vitrel_set_gpu_mask. Needs no context
 * and takes no lock; it creates and destroys a Vulkan instance, so it costs
 * milliseconds. Thread-safe. */
VITREL_EXPORT int vitrel_enumerate_gpus(char* names, int stride, int max_count) VITREL_NOEXCEPT;

/* Selects the GPUs to render on: `count` indices into the list of
 * vitrel_enumerate_gpus, in the given order (the first renders alone and
 * receives the merged image when there are several). Ignored when ctx or
 * indices is NULL, count is below 1 or any index is negative; indices are
 * not compared with the device list here (a missing GPU makes the next full
 * preparation fail). Existing renderers are not touched: the selection takes
 * effect when renderers are next created from scratch, that is at the first
 * vitrel_prepare after vitrel_scene_clear or after a failed preparation. */
VITREL_EXPORT void vitrel_set_gpu_mask(VitrelContext* ctx, const int* indices,
                                       int count) VITREL_NOEXCEPT;

/* Packs the scene and prepares every selected GPU, one thread per GPU.
 * The first preparation (and the first after vitrel_scene_clear or a failed
 * one) opens the devices, compiles the shader programs with the material
 * code, builds acceleration structures and uploads everything; later ones
 * keep devices and programs and rebuild only the scene resources, so the
 * GPU selection, the shader directories and the material graphs of the
 * first preparation stay in force while samples per batch and tile size are
 * copied again. The programs are built for the material features the scene
 * uses (coat, sheen, metal, transmission, subsurface, alpha modes), which
 * keeps them small for plain scenes; a later preparation whose materials
 * use a feature they were built without builds them again, with the
 * current material graphs. Textures added since the last preparation
 * rebuild the texture atlas.
 * Returns 0 (the sample count is 0 and no 8-bit image is published);
 * -1 for NULL, an empty scene (no material, mesh or instance; one line
 * "vitrel_prepare: empty scene (mats=%zu, meshes=%zu, instances=%zu)" on
 * standard error) or an output whose width, height or quality is below 1 or
 * whose framebuffer would exceed 65536 pixels per axis (last error not
 * written); -2 when packing failed (last error "scene packing: <reason>",
 * e.g. an atlas beyond 4 GiB) or a GPU failed (last error
 * "GPU <index>: <reason>" for the lowest failing slot of a full preparation,
 * "<reason>" on the fast path). After -2 no renderer survives and the
 * context is not prepared. Holds the context lock throughout. */
VITREL_EXPORT int vitrel_prepare(VitrelContext* ctx) VITREL_NOEXCEPT;

/* Adds samples to every pixel and returns the new per-pixel total.
 * samples_per_batch below 1 counts as 1, and above 65536 as 65536 (also as
 * the most samples a renderer takes per dispatch), so a batch always ends.
 * One GPU renders the whole image with samples_per_batch samples. With
 * motion blur set (more than one step) and one GPU, a GPU that traces motion
 * itself gets each instance's first and last step and renders
 * samples_per_batch samples; any other GPU renders each step in turn with
 * max(1, samples_per_batch / steps) samples, so the batch adds
 * steps x that many (3 steps at 8 samples add 6). The instances keep the
 * last step's transform afterwards. The motion paths re-pack the scene and
 * refuse, with -3, a scene whose materials, meshes, textures or environment
 * map changed since vitrel_prepare ("... prepare again"). Several GPUs
 * ignore motion blur and share the image in tiles of the tile size, handed
 * out through one counter, each tile rendered by exactly one GPU with all
 * samples of the batch.
 * The first batch after a preparation, reset or camera update clears the
 * accumulation. Returns -1 for NULL or when not prepared (last error
 * untouched); -3 on failure with the last error "render_batch: <reason>"
 * (the lowest failing GPU's reason when several render) and the line
 * "vitrel_render_batch error: <reason>" on standard error. A batch refused
 * before any GPU rendered leaves the total unchanged; one that failed while
 * rendering may have left part of its samples in some pixels, so the
 * accumulation restarts (total 0, published 8-bit image withdrawn) and the
 * next batch clears it. A failure while a motion path replaced scene resources also
 * makes the context unprepared. A batch that would take the total beyond
 * INT_MAX is refused with -3. Holds the context lock throughout; other
 * threads may meanwhile call vitrel_get_total_samples and
 * vitrel_get_pixels_uint8. */
VITREL_EXPORT int vitrel_render_batch(VitrelContext* ctx) VITREL_NOEXCEPT;

/* Restarts accumulation: the sample count becomes 0 and the published 8-bit
 * image is withdrawn (its memory is kept); the next batch clears the GPU
 * buffers. Touches no GPU. NULL is ignored. */
VITREL_EXPORT void vitrel_reset_accumulation(VitrelContext* ctx) VITREL_NOEXCEPT;

/* Moves the camera (eye position, look-at point, up direction: 3 floats
 * each; field of view in degrees, aperture, focus distance) and sets the
 * output size of a prepared context, then re-packs the scene parameters,
 * uploads them to every GPU (one thread each) and resizes the framebuffers
 * when the render size changed. Restarts accumulation and withdraws the
 * published 8-bit image. Camera keyframes may have been changed or added
 * since preparation (the parameter block grows as needed); hosts render
 * frame f of an animation by shifting the keyframe times by -f / fps and
 * calling this.
 * Returns 0; -1 for NULL, a NULL vector or when not prepared (last error
 * untouched), and -1 with the last error "update_camera: <reason>" and the
 * line "vitrel_update_camera error: <reason>" when width, height or quality
 * is below 1, the framebuffer would exceed 65536 pixels per axis,
 * materials, meshes, textures or the environment map changed since
 * vitrel_prepare, the lights changed since they were last uploaded (call
 * vitrel_rebuild_tlas), packing failed, or a GPU failed (which also makes
 * the context unprepared). A refused call changes nothing. */
VITREL_EXPORT int vitrel_update_camera(VitrelContext* ctx, const float* position,
                                       const float* look_at, const float* up, int width,
                                       int height, float fov, float aperture,
                                       float focus_distance) VITREL_NOEXCEPT;

/* Pushes moved instances, added instances of existing meshes and changed
 * lights to every GPU of a prepared context (one thread each): re-packs the
 * scene, rebuilds the top-level acceleration structure and replaces the
 * light and instance tables. Restarts accumulation; the published 8-bit
 * image stays. Returns 0; -1 for NULL or when not prepared (last error
 * untouched), and -1 with the last error "rebuild_tlas: <reason>" and the
 * line "vitrel_rebuild_tlas error: <reason>" when materials, meshes,
 * textures or the environment map changed since vitrel_prepare ("...
 * prepare again"), packing failed, or a GPU failed (which also makes the
 * context unprepared). */
VITREL_EXPORT int vitrel_rebuild_tlas(VitrelContext* ctx) VITREL_NOEXCEPT;

/* Display-transformed image of output width x height pixels, 4 floats per
 * pixel, rows top to bottom, the overscan border removed. With several GPUs
 * their accumulations are summed on the first for the read-out and the
 * first GPU's own content is restored afterwards, so reading twice gives
 * the same image. Returns NULL before the first batch after a preparation,
 * reset or camera update, for NULL or when not prepared, and on a GPU
 * failure (last error "get_pixels: <reason>"). `width` and `height` may be
 * NULL; they receive the size of the returned image whenever a pointer is
 * returned: the output size, or the size of the last preparation or camera
 * update when vitrel_set_output_size was called since (read no more than
 * the reported size). The
 * data stay valid until the next float read-out, camera update, preparation
 * or scene clear. Holds the context lock. */
VITREL_EXPORT const float* vitrel_get_pixels(VitrelContext* ctx, int* width,
                                             int* height) VITREL_NOEXCEPT;

/* As vitrel_get_pixels, but linear (mean radiance times exposure); failures
 * are reported as "get_pixels_linear: <reason>". The same memory as
 * vitrel_get_pixels, so each call overwrites the other's result. */
VITREL_EXPORT const float* vitrel_get_pixels_linear(VitrelContext* ctx, int* width,
                                                     int* height) VITREL_NOEXCEPT;

/* 8-bit RGBA display image (4 bytes per pixel, output size). Never waits
 * for the context lock: while another call holds it (a batch on another
 * thread, for example) it returns the last published image with its size,
 * or NULL when none was published since the last preparation, reset or
 * camera update. Otherwise it reads a new image (merged across GPUs as
 * vitrel_get_pixels does), publishes it and returns it; NULL before the
 * first batch, when not prepared, or on a GPU failure (last error
 * "get_pixels_uint8: <reason>"). The pointer stays valid until the second
 * following successful 8-bit read-out, a preparation or a scene clear.
 * The size reported is that of the returned image, as for
 * vitrel_get_pixels. Safe to call from any thread at any time. */
VITREL_EXPORT const unsigned char* vitrel_get_pixels_uint8(VitrelContext* ctx, int* width,
                                                           int* height) VITREL_NOEXCEPT;

/* Renders the depth, normal and object-id passes (one centre ray per output
 * pixel) on the first GPU only and keeps them in the context. Returns 0;
 * -1 for NULL, when not prepared, or on a GPU failure (last error
 * "compute_aovs: <reason>"). */
VITREL_EXPORT int vitrel_compute_aovs(VitrelContext* ctx) VITREL_NOEXCEPT;

/* The passes of the last vitrel_compute_aovs: depth (1 float per pixel),
 * normal (3 floats) and object id (1 int) at the size they were rendered
 * (reported through width and height), or NULL (out
 * parameters untouched) before the first. They keep their content until the
 * next vitrel_compute_aovs, scene clears included. Hold the context lock. */
VITREL_EXPORT const float* vitrel_get_aov_depth(VitrelContext* ctx, int* width,
                                                int* height) VITREL_NOEXCEPT;
VITREL_EXPORT const float* vitrel_get_aov_normal(VitrelContext* ctx, int* width,
                                                 int* height) VITREL_NOEXCEPT;
VITREL_EXPORT const int* vitrel_get_aov_object_id(VitrelContext* ctx, int* width,
                                                  int* height) VITREL_NOEXCEPT;

/* ---------------------------------------------------------------------
 * Output, quality and grading settings
 * --------------------------------------------------------------------- */

/* Size of the delivered image in pixels, stored as given (negative values
 * included). Both must be at least 1 before preparing: a preparation whose
 * size or quality is below 1, or whose render size (the size plus the
 * overscan border, times the quality) exceeds 65536 pixels on an axis,
 * fails with the reason in vitrel_get_last_error. Renderers keep their
 * framebuffers until the next vitrel_prepare or vitrel_update_camera, and
 * read-outs report the new size at once, so on a prepared context prepare or
 * update the camera before reading pixels again. */
VITREL_EXPORT void vitrel_set_output_size(VitrelContext* ctx, int width, int height)
    VITREL_NOEXCEPT;

/* Samples per pixel added by each vitrel_render_batch and the trace
 * parameter handed to the GPU programs: both take effect only while the
 * context is not prepared (a prepared context keeps its values). The
 * exposure is always set and applies at the next read-out. With the
 * shipped programs the trace parameter is the largest number of bounces B
 * (default 6): the first surface a camera ray hits is vertex 0, vertices
 * 0 to B gather direct light, and the ray leaving vertex B still sees
 * emitters; 0 means no limit but Russian roulette. B occupies the low 16
 * bits; adding VITREL_TRACE_LIGHT_TRACING turns on light tracing, which
 * renders caustics (light reaching a diffuse surface through mirrors or
 * glass) from paths started at the emissive triangles and the environment
 * instead of the camera: same image in expectation, far less noise in caustics, at the
 * cost of one light path per pixel and sample. Off by default. Its GPU
 * program is created by the preparation only when the bit is set then
 * (otherwise by the first batch that needs it), which spares preparations
 * without light tracing seconds on CPU devices. */
#define VITREL_TRACE_LIGHT_TRACING 65536
VITREL_EXPORT void vitrel_set_render_params(VitrelContext* ctx, int samples_per_batch,
                                            int trace_param, float exposure) VITREL_NOEXCEPT;

/* Edge of a render tile in framebuffer pixels (values below 1 store 1).
 * Prepared renderers pick it up at the next vitrel_prepare; multi-GPU tile
 * lists use it from the next batch on. */
VITREL_EXPORT void vitrel_set_tile_size(VitrelContext* ctx, int tile) VITREL_NOEXCEPT;

/* Supersampling factor per axis, stored as given; must be at least 1 before
 * preparing (see vitrel_set_output_size). Applies when framebuffers are next
 * created or resized; until then read-outs keep the quality the
 * framebuffers were made for. */
VITREL_EXPORT void vitrel_set_quality(VitrelContext* ctx, int quality) VITREL_NOEXCEPT;

/* Directory of compiled shader programs (SPIR-V) and directory of GLSL
 * sources compiled at run time; NULL leaves that one unchanged, "" as the
 * source directory means none. Used when renderers are next created from
 * scratch (the first vitrel_prepare, or the first after vitrel_scene_clear
 * or a failed preparation). */
VITREL_EXPORT void vitrel_set_shader_paths(VitrelContext* ctx, const char* shader_dir,
                                           const char* shader_src_dir) VITREL_NOEXCEPT;

/* Selects a colour-grading preset by exact name: "punchy", "filmic",
 * "bleach_bypass"; any other name selects "neutral". Changes only the five
 * grading values, never the exposure. Applies at the next read-out. Ignored
 * when name is NULL. */
VITREL_EXPORT void vitrel_set_grade(VitrelContext* ctx, const char* name) VITREL_NOEXCEPT;

/* Writes the context's scene to the scene cache file `path` (.vsb), as last
 * prepared: the packed tables and the atlas are stored as they are, so save
 * after vitrel_prepare to capture them. An existing file is replaced whole
 * (through a temporary file beside it and a rename) or, on failure, left
 * untouched. Returns 0 on success; -1 for a NULL context or path (the file
 * system is not touched) or when the file cannot be written, with the
 * reason printed to standard error. Runs under the context lock; reads host
 * memory only and touches no GPU. */
VITREL_EXPORT int vitrel_save_scene(VitrelContext* ctx, const char* path) VITREL_NOEXCEPT;

/* ---------------------------------------------------------------------
 * Sampler seed and per-pass GPU timings
 * --------------------------------------------------------------------- */

/* Seed of the sample sequence: every seed scrambles the per-pixel
 * low-discrepancy sequence differently, so renders of the same scene with
 * different seeds are statistically independent, and renders with the same
 * seed are identical. 0 (the default) is the sequence used without a seed.
 * A changed seed restarts accumulation (the sample count becomes 0 and the
 * published 8-bit image is withdrawn) and applies from the next batch, on
 * prepared and unprepared contexts alike; setting the current seed again
 * changes nothing. Kept by vitrel_scene_clear. NULL is ignored. */
VITREL_EXPORT void vitrel_set_seed(VitrelContext* ctx, unsigned int seed) VITREL_NOEXCEPT;

/* The passes that per-pass timing measures, indices into
 * VitrelPassTimings.gpu_ms and .dispatches: the eye-path trace and the
 * sample filter of every batch, and its light-path pass when light tracing
 * is on (VITREL_TRACE_LIGHT_TRACING; otherwise it does not run); post-processing,
 * downsampling and 8-bit quantisation of the read-outs; the AOV pass of
 * vitrel_compute_aovs. */
enum {
    VITREL_PASS_TRACE = 0,
    VITREL_PASS_FILTER = 1,
    VITREL_PASS_LIGHT = 2,
    VITREL_PASS_POST = 3,
    VITREL_PASS_DOWNSAMPLE = 4,
    VITREL_PASS_QUANTIZE = 5,
    VITREL_PASS_AOV = 6,
    VITREL_PASS_COUNT = 7
};

/* What one GPU measured since timing was last reset. */
typedef struct VitrelPassTimings {
    /* 1 while timing is on and this GPU's queue records timestamps; 0 when
     * timing is off or the GPU cannot measure (its times then stay 0). */
    int available;
    /* vitrel_render_batch calls measured (the same for every GPU). */
    int batches;
    /* Wall time of those batch calls on the host, in milliseconds: GPU
     * work, waiting and host overhead together (the same for every GPU). */
    double host_batch_ms;
    /* GPU time per pass in milliseconds, summed, and the number of
     * dispatches of each pass that were timed. */
    double gpu_ms[VITREL_PASS_COUNT];
    long long dispatches[VITREL_PASS_COUNT];
} VitrelPassTimings;

/* Turns per-pass GPU timing on (non-zero) or off (0, the default). While on,
 * every pass recorded on every GPU is bracketed by timestamp queries, read
 * after its submission has finished, and its GPU time is added to that
 * GPU's sums; batch calls add their host wall time. Off costs nothing
 * measurable. Turning it on or off keeps the sums (see
 * vitrel_reset_gpu_timings); a preparation that creates the renderers anew
 * (the first, or the first after vitrel_scene_clear or a failed one) starts
 * them at zero. Applies from the next GPU call, to prepared renderers and
 * to those of later preparations. NULL is ignored. */
VITREL_EXPORT void vitrel_set_gpu_timing(VitrelContext* ctx, int enabled) VITREL_NOEXCEPT;

/* Zeroes every GPU's sums and the batch count and host time. NULL is
 * ignored. */
VITREL_EXPORT void vitrel_reset_gpu_timings(VitrelContext* ctx) VITREL_NOEXCEPT;

/* Copies the sums of GPU `gpu`, a position in the selection of
 * vitrel_set_gpu_mask (0: the first GPU, which also runs the read-outs),
 * into `out`. Returns 0; -1 for NULL arguments, when not prepared, or when
 * `gpu` is not below the number of selected GPUs (`out` untouched). Holds
 * the context lock. */
VITREL_EXPORT int vitrel_get_gpu_timings(VitrelContext* ctx, int gpu,
                                         VitrelPassTimings* out) VITREL_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
