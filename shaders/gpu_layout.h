// Data layouts shared by the host (C++) and the GPU programs (GLSL). This is
// the only definition of these records: the shaders include this file, and
// the C++ side pins every size and offset below so that a change on one side
// cannot silently break the other. All records are tightly packed 4-byte
// words, read in std430 buffers. (GLSL reserves macro names starting with
// "GL_", hence GPU_UINT/GPU_INT for the scalar types.)
#ifndef VITREL_GPU_LAYOUT_H
#define VITREL_GPU_LAYOUT_H

#ifdef __cplusplus
#include <cstddef>
#include <cstdint>
#define GPU_UINT uint32_t
#define GPU_INT int32_t
#else
#define GPU_UINT uint
#define GPU_INT int
#endif

// One packed material, 47 words. Word 14 holds the dielectric reflectance
// 2 * ((ior - 1) / (ior + 1))^2 * specular rather than `specular` itself.
struct GpuMaterial {
    float base_color[3];
    float roughness;
    float metallic;
    float spec_trans;
    float ior;
    float extra_a;
    float emission[3];
    float extra_b;
    GPU_INT albedo_tex;
    GPU_INT roughness_tex;
    float dielectric_f0;
    float extra_c;
    GPU_INT metallic_tex;
    GPU_INT normal_tex;
    float extra_params[7];
    float subsurface;
    float subsurface_radius[3];
    float subsurface_scale;
    float alpha;
    GPU_INT alpha_mode;
    float alpha_cutoff;
    GPU_INT emission_tex;
    float subsurface_ext[2];
    float f82_tint[3];
    float transmission_color[3];
    float transmission_extra;
    float coat_color[3];
    GPU_INT thin_walled;
};

// Directory entry of one texture in the atlas byte buffer.
#define ATLAS_FLAG_FLOAT 1u
#define ATLAS_FLAG_FLAG1 2u
struct AtlasEntry {
    GPU_UINT offset;  // byte offset of the first texel, a multiple of 4
    GPU_UINT width;
    GPU_UINT height;
    GPU_UINT channels;
    GPU_UINT flags;  // ATLAS_FLAG_FLOAT | ATLAS_FLAG_FLAG1
    GPU_UINT reserved[3];
};

// Scene preparation tables. Sampling tables are quantised CDFs of 32-bit
// words whose last entry is CDF_LAST_ENTRY, so that the first entry not below
// any uniformly drawn 32-bit number always exists. `scene_params` is a float
// array: a header of SCENE_PARAMS_HEADER_FLOATS (indices SP_*), one block of
// SP_DE_BLOCK_FLOATS per extra object, then with two or more camera keyframes
// an animation header of SP_ANIM_HEADER_FLOATS (indices SP_ANIM_*) followed by
// SP_KEYFRAME_FLOATS per keyframe. Counts and flags are stored as floats.
// Last come the guide targets: SP_GUIDE_COUNT (at most GUIDE_TARGET_MAX)
// blocks of GUIDE_TARGET_FLOATS (centre x, y, z, radius), world-space
// bounding spheres of the instances that may scatter specularly; light
// paths leaving emissive triangles aim part of their directions at them
// (light_guide.glsl). Without targets the array ends after the keyframes.
#define CDF_LAST_ENTRY 0xFFFFFFFFu
#define ATLAS_OFFSET_ALIGNMENT 4u
#define SCENE_PARAMS_HEADER_FLOATS 32
#define GUIDE_TARGET_MAX 8
#define GUIDE_TARGET_FLOATS 4
#define SP_EMISSIVE_COUNT 0
#define SP_MATERIAL_COUNT 2
#define SP_CAMERA_POSITION 4
#define SP_CAMERA_APERTURE 7
#define SP_LOWER_LEFT 8
#define SP_FOCUS_DISTANCE 11
#define SP_HORIZONTAL 12
#define SP_VERTICAL 16
#define SP_DE_COUNT 20
#define SP_KEYFRAME_COUNT 21
#define SP_ENV_ACTIVE 22
#define SP_LIGHT_COUNT 23
#define SP_ENV_LIGHT_PDF 24
#define SP_SHUTTER_FRAMES 25
#define SP_ANY_MOVING 26
#define SP_BOUNDS_CENTRE 27  // 3 floats: the sphere around the scene's triangles
#define SP_BOUNDS_RADIUS 30  // 0 without geometry
#define SP_GUIDE_COUNT 31
#define SP_DE_BLOCK_FLOATS 8   // params[0..3], kind, 0, 0, 0
#define SP_ANIM_HEADER_FLOATS 8
#define SP_ANIM_KEYFRAME_COUNT 0
#define SP_ANIM_DURATION 1
#define SP_ANIM_LOOP 2
#define SP_ANIM_HALF_HEIGHT 3
#define SP_ANIM_CAMERA_UP 4
#define SP_ANIM_FRAME_TIME 7   // 1 / anim_fps
#define SP_KEYFRAME_FLOATS 8   // time, position[3], look_at[3], 0
// Where the animation header and the guide targets start, from the counts
// of extra objects and keyframes; the writer and every reader use these.
#define SP_ANIM_BLOCK_AT(de_count) (SCENE_PARAMS_HEADER_FLOATS + SP_DE_BLOCK_FLOATS * (de_count))
#define SP_GUIDE_TARGETS_AT(de_count, keyframes) \
    (SP_ANIM_BLOCK_AT(de_count) + ((keyframes) >= 2 ? SP_ANIM_HEADER_FLOATS + SP_KEYFRAME_FLOATS * (keyframes) : 0))
#ifdef __cplusplus
static_assert(SP_ANY_MOVING < SP_BOUNDS_CENTRE && SP_BOUNDS_CENTRE + 3 <= SP_BOUNDS_RADIUS);
static_assert(SP_BOUNDS_RADIUS < SP_GUIDE_COUNT && SP_GUIDE_COUNT < SCENE_PARAMS_HEADER_FLOATS);
static_assert(GUIDE_TARGET_FLOATS == 4, "a guide target is centre x, y, z and radius");
static_assert(SP_ANIM_FRAME_TIME < SP_ANIM_HEADER_FLOATS);
static_assert(offsetof(AtlasEntry, offset) == 0 && offsetof(AtlasEntry, width) == 4);
static_assert(offsetof(AtlasEntry, height) == 8 && offsetof(AtlasEntry, channels) == 12);
static_assert(offsetof(AtlasEntry, reserved) == 20);
#endif

#ifdef __cplusplus
static_assert(sizeof(GpuMaterial) == 188, "GpuMaterial is 47 words");
static_assert(offsetof(GpuMaterial, roughness) == 12);
static_assert(offsetof(GpuMaterial, extra_a) == 28);
static_assert(offsetof(GpuMaterial, emission) == 32);
static_assert(offsetof(GpuMaterial, albedo_tex) == 48);
static_assert(offsetof(GpuMaterial, dielectric_f0) == 56);
static_assert(offsetof(GpuMaterial, metallic_tex) == 64);
static_assert(offsetof(GpuMaterial, extra_params) == 72);
static_assert(offsetof(GpuMaterial, subsurface) == 100);
static_assert(offsetof(GpuMaterial, subsurface_scale) == 116);
static_assert(offsetof(GpuMaterial, alpha) == 120);
static_assert(offsetof(GpuMaterial, alpha_mode) == 124);
static_assert(offsetof(GpuMaterial, alpha_cutoff) == 128);
static_assert(offsetof(GpuMaterial, emission_tex) == 132);
static_assert(offsetof(GpuMaterial, subsurface_ext) == 136);
static_assert(offsetof(GpuMaterial, f82_tint) == 144);
static_assert(offsetof(GpuMaterial, transmission_color) == 156);
static_assert(offsetof(GpuMaterial, transmission_extra) == 168);
static_assert(offsetof(GpuMaterial, coat_color) == 172);
static_assert(offsetof(GpuMaterial, thin_walled) == 184);
static_assert(sizeof(AtlasEntry) == 32, "AtlasEntry is 8 words");
static_assert(offsetof(AtlasEntry, flags) == 16);
#endif

// Directional-albedo table of single-scattering GGX lobes (binding 4), for
// multiple-scattering energy compensation. ESS_ENTRIES unsigned 16-bit
// values round(E * ESS_VALUE_SCALE), two per 32-bit word (little-endian:
// even index in the low half), at index i + ESS_DIM j + ESS_DIM^2 k:
//   i: cosine of the view angle, mu = (i + 0.5) / ESS_DIM
//   j: perceptual roughness r = j / (ESS_DIM - 1), GGX alpha =
//      max(r^2, ESS_ALPHA_MIN)
//   k = 0: a lobe with Fresnel = 1 (metals); k = 1 .. ESS_DIM - 1: a
//      dielectric entered from outside, eta = 1 + (ESS_MAX_ETA - 1) k /
//      (ESS_DIM - 1), reflection plus transmission
// E is the fraction of incident energy the lobe returns (height-correlated
// Smith masking), clamped to [ESS_MIN_ALBEDO, 1] so that compensation
// factors 1 / E stay bounded. tools/gen_ess_lut writes the table.
#define ESS_DIM 32
#define ESS_ENTRIES (ESS_DIM * ESS_DIM * ESS_DIM)
#define ESS_ALPHA_MIN 0.0016
#define ESS_MAX_ETA 3.0
#define ESS_MIN_ALBEDO 0.125
#define ESS_VALUE_SCALE 65535.0

// Further tables appended to the binding-4 buffer after the ESS_ENTRIES
// values above, in the same encoding (16-bit values v / ESS_VALUE_SCALE, two
// per word) and on the same mu, roughness and eta axes. Offsets count 16-bit
// values from the start of the buffer. tools/gen_shading_tables writes them
// (scene/generated/shading_tables.cpp); the renderer appends them to the
// host's ESS table when it uploads binding 4.
//   ESS_INSIDE: the dielectric seen from inside, slice k for the interface
//      of eta = 1 / (1 + (ESS_MAX_ETA - 1) k / (ESS_DIM - 1)) (k = 0: eta 1),
//      reflection (total internal reflection included) plus transmission,
//      clamped like the ESS table.
//   ESS_AVERAGE: hemispherical averages 2 * integral E(mu) mu dmu of every
//      (roughness j, slice k) of the ESS table (index j + ESS_DIM k), then
//      of the ESS_INSIDE table (index ESS_DIM^2 + j + ESS_DIM k), by the
//      midpoint rule on the tables' own quantised mu samples.
//   SPECULAR_ALBEDO: reflection only, Fresnel of a dielectric of eta = 1 +
//      (ESS_MAX_ETA - 1) k / (ESS_DIM - 1), index i + ESS_DIM j + ESS_DIM^2 k
//      (the specular layer and the clear coat); unclamped.
//   SPECULAR_AVERAGE: its hemispherical averages, index j + ESS_DIM k.
//   SHEEN_ALBEDO: the white sheen lobe, index i + ESS_DIM j with sheen
//      roughness j / (ESS_DIM - 1).
//   SHEEN_AVERAGE: its hemispherical averages, index j.
#define ESS_INSIDE_OFFSET ESS_ENTRIES
#define ESS_AVERAGE_OFFSET (2 * ESS_ENTRIES)
#define ESS_AVERAGE_ENTRIES (2 * ESS_DIM * ESS_DIM)
#define SPECULAR_ALBEDO_OFFSET (ESS_AVERAGE_OFFSET + ESS_AVERAGE_ENTRIES)
#define SPECULAR_AVERAGE_OFFSET (SPECULAR_ALBEDO_OFFSET + ESS_ENTRIES)
#define SHEEN_ALBEDO_OFFSET (SPECULAR_AVERAGE_OFFSET + ESS_DIM * ESS_DIM)
#define SHEEN_AVERAGE_OFFSET (SHEEN_ALBEDO_OFFSET + ESS_DIM * ESS_DIM)
#define SHADING_TABLES_END (SHEEN_AVERAGE_OFFSET + ESS_DIM)
// Values the generator appends after the host's ESS table.
#define SHADING_TABLES_ENTRIES (SHADING_TABLES_END - ESS_ENTRIES)
#ifdef __cplusplus
static_assert(ESS_ENTRIES % 2 == 0 && ESS_AVERAGE_OFFSET % 2 == 0 && SPECULAR_ALBEDO_OFFSET % 2 == 0,
              "tables start on whole words");
static_assert(SHADING_TABLES_END == 2 * 32768 + 2 * 1024 + 32768 + 1024 + 1024 + 32);
static_assert(SHADING_TABLES_ENTRIES % 2 == 0, "the appended tables fill whole words");
#endif

// Descriptor set 0: one acceleration structure and 28 storage buffers, each
// bound from offset 0 over its whole size. The last, BINDING_ADDRESSES,
// holds BINDING_COUNT device addresses (uvec2, low word first): entry b is
// the address of the buffer bound at binding b (0 for the TLAS), written
// whenever the descriptors are, for the programs that read through buffer
// references (scene_resources.glsl).
#define BINDING_TLAS 0
#define BINDING_SCENE_PARAMS 1
#define BINDING_MATERIALS 2
#define BINDING_INSTANCE_INFO 3
#define BINDING_ESS_LUT 4
#define BINDING_SAMPLES 5
#define BINDING_EYE_ACCUM 6
#define BINDING_LIGHT_ACCUM 7
#define BINDING_WORK 8
#define BINDING_OUTPUT_RGBA8 9
#define BINDING_POSITIONS 10
#define BINDING_INDICES 11
#define BINDING_FACE_NORMALS 12
#define BINDING_FACE_MATERIALS 13
#define BINDING_EMISSIVES 14
#define BINDING_EMISSIVE_TRI_CDF 15
#define BINDING_NORMALS 16
#define BINDING_UVS 17
#define BINDING_ATLAS_DATA 18
#define BINDING_ATLAS_ENTRIES 19
#define BINDING_SRGB_LUT 20
#define BINDING_LIGHT_CDF 21
#define BINDING_ENV_CDF 22
#define BINDING_TANGENTS 23
#define BINDING_AOV_DEPTH 24
#define BINDING_AOV_NORMAL 25
#define BINDING_AOV_OBJECT_ID 26
#define BINDING_OUTPUT 27
#define BINDING_ADDRESSES 28
#define BINDING_COUNT 29
#define ADDRESS_ENTRY_BYTES 8

// Framebuffers. Trace dispatches write one vec4 per sample into the sample
// scratch (binding 5): rgb = the sample's radiance, a = 1 for a kept sample
// and 0 for one dropped because its radiance was not finite (rgb then 0).
// Sub-pixel positions come from filter importance sampling, so every kept
// sample has weight 1 and the filter pass only adds. The scratch slot of
// tile pixel (x, y) in dispatch layer z of a tile_w x tile_h tile:
#define SAMPLE_SLOT(x, y, z, tile_w, tile_h) ((((z) * (tile_h)) + (y)) * (tile_w) + (x))
// Eye accumulation (binding 6), one vec4 per render pixel: rgb = sum of kept
// samples' radiance, a = number of kept samples. Light accumulation
// (binding 7), one ivec4 per render pixel: rgb = light-tracing splats in
// fixed point, a = samples dropped as non-finite at that pixel (a debug
// counter; tests read it back).
#define ACCUM_TEXEL_WORDS 4
// Light splats are added with integer atomics (exact, order-independent and
// summable across GPUs); one integer step is LIGHT_ACCUM_SCALE radiance
// units. Read-out divides the splat sum by the accumulated sample count.
// Splats are rounded stochastically (unbiased, however small), each is
// clamped to LIGHT_SPLAT_MAX steps, and a channel saturates at
// LIGHT_ACCUM_MAX instead of wrapping: the final value is min(sum, max)
// whatever the order of the additions, and merging GPUs saturates alike.
#define LIGHT_ACCUM_SCALE (1.0 / 1024.0)
#define LIGHT_SPLAT_MAX 16777216
#define LIGHT_ACCUM_MAX 2147483647

// Auxiliary passes (bindings 24-26), one value per output pixel: planar
// camera depth (distance along the viewing direction), world-space shading
// normal turned towards the camera, and instance id. A pixel whose centre
// ray hits nothing reads AOV_MISS_DEPTH, a zero normal and AOV_MISS_OBJECT_ID.
#define AOV_MISS_DEPTH (-1.0)
#define AOV_MISS_OBJECT_ID (-1)

// Post-processing (word 19 of the push block): the display tone curve.
// POST_MODE_FILMIC maps scene-referred values through a toe (strength
// post_param0: x^2 / (x + post_param0 * FILMIC_TOE_SCALE)) and a shoulder
// that reaches display white at the scene value post_param1 (extended
// Reinhard). Unknown modes use POST_MODE_FILMIC.
#define POST_MODE_FILMIC 0u
#define FILMIC_TOE_SCALE 0.04

// Push constants: one 96-byte range for compute, ray generation, closest hit
// and miss stages; every push writes words 0-22. Trace passes fill words 0-10
// and 22 (TRACE_SEED_WORD, below), the post-processing chain words 0-3 and
// 10-22 (word 10 is then the accumulated sample count), the object pass
// words 0-1 and 17 (overscan, so its centre rays land inside the output
// image).
#define PUSH_BLOCK_SIZE 96
#define PUSH_BLOCK_WRITTEN_BYTES 92
#define PUSH_BLOCK_STAGES 0xD20u
// Word 9 (extra_param) of trace passes selects a diagnostic mode of the
// eye-path program; batch rendering passes 0, the normal mode.
// TRACE_EXTRA_RAY_COUNT: each sample's red channel is the number of rays its
// path traced (benchmarks count rays this way); TRACE_EXTRA_PRIMARY_ONLY:
// only the camera ray is traced, red = 1 on a hit (the raw ray rate).
// Specialization constant PROGRAM_FEATURES_CONSTANT_ID of ray generation
// and the light-path pass: the material features a scene's materials use.
// Code for the features left out is compiled out (drivers fold
// specialization constants before optimising), so a scene of plain
// materials gets a program a fraction of the full one's size, which on a
// CPU driver cuts the first-use compile several times. Without the
// constant a program has every feature. The host sets a superset of what
// the packed materials can reach; materials reach the GPU only at
// preparation, which also creates the pipelines.
#define PROGRAM_FEATURES_CONSTANT_ID 0
#define PROGRAM_FEATURE_COAT 0x1u
#define PROGRAM_FEATURE_SHEEN 0x2u
#define PROGRAM_FEATURE_METAL 0x4u          // metallic lobe (also from textures and graphs)
#define PROGRAM_FEATURE_TRANSMISSION 0x8u   // dielectric interfaces, thin sheets, absorption
#define PROGRAM_FEATURE_SUBSURFACE 0x10u    // random walks under subsurface surfaces
#define PROGRAM_FEATURE_ALPHA 0x20u         // alpha modes other than opaque
#define PROGRAM_FEATURES_ALL 0x3Fu

// Word 8 (trace_param) of trace passes: the low 16 bits are the bounce limit
// B of eye and light paths (0 = none but Russian roulette and the vertex
// cap); TRACE_PARAM_LIGHT_TRACING adds light tracing for caustics. Other
// bits are ignored.
#define TRACE_PARAM_BOUNCE_MASK 0xFFFFu
#define TRACE_PARAM_LIGHT_TRACING 0x10000u
// A vertex is specular when every lobe of its material is sharper than this
// roughness (path_partition.glsl); scene preparation picks the guide
// targets by the same bound.
#define SPECULAR_ROUGHNESS_MAX 0.1
#define TRACE_EXTRA_NORMAL 0
#define TRACE_EXTRA_RAY_COUNT 1
#define TRACE_EXTRA_PRIMARY_ONLY 2
// Word 22 of trace passes, where it has no other use: the sampler seed that
// selects the scrambling of the sample sequence (0: the default sequence,
// so trace passes of the default seed leave words 11-22 zero). The field
// name under which both sides read and write it:
#define TRACE_SEED_WORD display_output
struct PushBlock {
    GPU_UINT width;         // render width (or output width in later post passes)
    GPU_UINT height;
    GPU_UINT origin_x;      // tile origin; render size in later post passes
    GPU_UINT origin_y;
    GPU_UINT tile_width;
    GPU_UINT tile_height;
    GPU_UINT first_sample;  // first sample index of this dispatch
    GPU_UINT sample_count;  // samples in this dispatch
    GPU_UINT trace_param;
    GPU_INT extra_param;
    GPU_UINT sample_end;    // end sample of the batch, or accumulated samples
    float exposure;
    float grade[5];
    GPU_UINT overscan;
    GPU_UINT quality;
    GPU_UINT post_mode;
    float post_param0;
    float post_param1;
    GPU_UINT display_output;  // 1 = display-referred, 0 = linear
    GPU_UINT unused;          // never written
};

// Per-instance lookup record (binding 3). Offsets count elements of the shared
// geometry buffers; an absent attribute is NO_ATTRIBUTE.
#define NO_ATTRIBUTE 0xFFFFFFFFu
struct GpuInstance {
    GPU_INT material;
    GPU_UINT face_offset;
    GPU_UINT index_offset;
    GPU_UINT vertex_offset;
    GPU_INT face_material_start;  // -1 when the instance has no face materials
    GPU_INT emissive_index;       // entry of the emissive table, or -1
    GPU_UINT normal_offset;
    GPU_UINT uv_offset;
    GPU_UINT tangent_offset;
};

// One light-emitting instance (binding 14). Its triangle CDF occupies
// emissive_tri_cdf[first_triangle .. first_triangle + triangle_count).
struct GpuEmissive {
    GPU_INT instance;
    GPU_UINT first_triangle;
    GPU_UINT triangle_count;
    float area;
    float transform[12];      // row-major 3x4 at shutter open
    float select_pdf;         // probability of choosing this light
    float transform_end[12];  // at shutter close (= transform when static)
    GPU_UINT reserved;
};

// Environment sampling block (binding 22): this 16-word header, then, as
// 32-bit words, the marginal CDF (height), the row weights (height, float)
// and the conditional CDF (width * height, row-major). Without an
// environment map the block is the header alone, all zero.
#define ENV_HEADER_WORDS 16
struct GpuEnvHeader {
    GPU_INT width;
    GPU_INT height;
    float total_weight;
    float intensity;
    float rotation[9];  // row-major 3x3, as euler_to_rotation_ext writes it
    GPU_INT texture;
    GPU_UINT reserved[2];
};

// Four-wide BVH that CPU devices traverse in the compute eye program
// instead of the driver's ray query (scene/cpu_bvh.h explains why). Node 0
// is the root. A child with `ref` > 0 is inner node `ref`; with `ref` < 0 it
// is a leaf of `count` triangles starting at triangle -ref - 1; `ref` = 0
// marks an empty slot. Triangles are stored as a corner and two edges in
// world space, with the instance and primitive a hit reports.
#define CPU_BVH_WIDTH 4
#define CPU_BVH_LEAF_TRIANGLES 4
// Traversal stack entries; the builder keeps the tree shallow enough that
// an ordered traversal never needs more ((WIDTH - 1) per level, plus one).
#define CPU_BVH_STACK 48
#define CPU_BVH_MAX_DEPTH ((CPU_BVH_STACK - 1) / (CPU_BVH_WIDTH - 1))
// The block the compute eye program reads (at the address table's entry
// BINDING_TLAS, which has no buffer of its own; 0 there: trace with ray
// queries) is a run of 16-byte units: this header, the nodes from unit
// CPU_BVH_HEADER_UNITS, the triangles from `triangle_base`, and from
// `transform_base` each instance's row-major 3x4 transform (3 units), for
// the normals of its hits.
#define CPU_BVH_HEADER_UNITS 1
struct GpuBvhHeader {
    GPU_UINT node_count;
    GPU_UINT triangle_count;
    GPU_UINT triangle_base;
    GPU_UINT transform_base;
};
struct GpuBvhChild {
    float lo[3];
    GPU_INT ref;
    float hi[3];
    GPU_UINT count;
};
struct GpuBvhNode {
    GpuBvhChild child[CPU_BVH_WIDTH];
};
struct GpuBvhTriangle {
    float corner[3];
    GPU_UINT instance;
    float edge1[3];
    GPU_UINT primitive;
    float edge2[3];
    GPU_UINT reserved;
};

#ifdef __cplusplus
static_assert(sizeof(PushBlock) == PUSH_BLOCK_SIZE);
static_assert(offsetof(PushBlock, extra_param) == 36);
static_assert(offsetof(PushBlock, sample_end) == 40);
static_assert(offsetof(PushBlock, exposure) == 44);
static_assert(offsetof(PushBlock, grade) == 48);
static_assert(offsetof(PushBlock, overscan) == 68);
static_assert(offsetof(PushBlock, quality) == 72);
static_assert(offsetof(PushBlock, post_mode) == 76);
static_assert(offsetof(PushBlock, post_param0) == 80);
static_assert(offsetof(PushBlock, post_param1) == 84);
static_assert(offsetof(PushBlock, display_output) == 88);
static_assert(offsetof(PushBlock, TRACE_SEED_WORD) == 88);
static_assert(offsetof(PushBlock, unused) == PUSH_BLOCK_WRITTEN_BYTES);
static_assert(sizeof(GpuInstance) == 36, "GpuInstance is 9 words");
static_assert(offsetof(GpuInstance, face_offset) == 4);
static_assert(offsetof(GpuInstance, index_offset) == 8);
static_assert(offsetof(GpuInstance, vertex_offset) == 12);
static_assert(offsetof(GpuInstance, face_material_start) == 16);
static_assert(offsetof(GpuInstance, emissive_index) == 20);
static_assert(offsetof(GpuInstance, normal_offset) == 24);
static_assert(offsetof(GpuInstance, uv_offset) == 28);
static_assert(offsetof(GpuInstance, tangent_offset) == 32);
static_assert(sizeof(GpuEmissive) == 120, "GpuEmissive is 30 words");
static_assert(offsetof(GpuEmissive, first_triangle) == 4);
static_assert(offsetof(GpuEmissive, triangle_count) == 8);
static_assert(offsetof(GpuEmissive, area) == 12);
static_assert(offsetof(GpuEmissive, transform) == 16);
static_assert(offsetof(GpuEmissive, select_pdf) == 64);
static_assert(offsetof(GpuEmissive, transform_end) == 68);
static_assert(offsetof(GpuEmissive, reserved) == 116);
static_assert(sizeof(GpuEnvHeader) == ENV_HEADER_WORDS * 4);
static_assert(offsetof(GpuEnvHeader, total_weight) == 8);
static_assert(offsetof(GpuEnvHeader, intensity) == 12);
static_assert(offsetof(GpuEnvHeader, rotation) == 16);
static_assert(offsetof(GpuEnvHeader, texture) == 52);
static_assert(sizeof(GpuBvhHeader) == 16 * CPU_BVH_HEADER_UNITS);
static_assert(sizeof(GpuBvhChild) == 32 && offsetof(GpuBvhChild, ref) == 12);
static_assert(offsetof(GpuBvhChild, hi) == 16 && offsetof(GpuBvhChild, count) == 28);
static_assert(sizeof(GpuBvhNode) == CPU_BVH_WIDTH * 32);
static_assert(sizeof(GpuBvhTriangle) == 48 && offsetof(GpuBvhTriangle, instance) == 12);
static_assert(offsetof(GpuBvhTriangle, edge1) == 16 && offsetof(GpuBvhTriangle, primitive) == 28);
static_assert(offsetof(GpuBvhTriangle, edge2) == 32 && offsetof(GpuBvhTriangle, reserved) == 44);
#endif

#undef GPU_UINT
#undef GPU_INT
#endif
