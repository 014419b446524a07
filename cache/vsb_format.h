// The scene cache file (.vsb): a prepared scene stored as raw little-endian
// copies of its arrays, so that loading is one mapping plus range copies.
//
// Layout: a 64-byte header, a table of 24-byte section entries at offset 64,
// zero padding up to the data start D (the first multiple of 16 at or after
// the end of the table), then the section payloads, each starting at a
// multiple of 16 from D. A section is written only when its payload is not
// empty; the reader takes the first entry of each type and treats a missing
// type as an absent section.
//
// Not stored: textures (only the atlas built from them), emissive instances,
// light_pdf, DE objects, envmap_rotation, instance transform_end/moving and
// the other derived fields; a loaded scene has them at their defaults.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "scene/vitrel_export.h"
#include "cache/atomic_file.h"
#include "scene/scene.h"

static_assert(std::endian::native == std::endian::little,
              "the cache stores raw copies of little-endian arrays");

inline constexpr char kVsbMagic[4] = {'V', 'S', 'B', '\0'};
inline constexpr uint32_t kVsbVersion = 2;
inline constexpr uint64_t kVsbTableOffset = 64;
inline constexpr uint64_t kVsbAlignment = 16;
// Mesh record offset meaning "this optional array is not stored".
inline constexpr uint32_t kVsbNoArray = 0xFFFFFFFFu;

enum class VsbSectionType : uint32_t {
    MeshTable = 1,
    Positions = 2,
    Indices = 3,
    FaceNormals = 4,
    Normals = 5,
    Uvs = 6,
    Tangents = 7,
    FaceMaterials = 8,
    GpuMaterials = 9,
    Instances = 10,
    AtlasEntries = 11,
    AtlasData = 12,
    EnvmapCdf = 14,
    EmissiveTriCdf = 15,
    LightCdf = 16,
    SceneParams = 17,
    Camera = 18,
    Animation = 19,
    SrgbLut = 20,
    Materials = 21,
};

struct VsbHeader {
    char magic[4];
    uint32_t version;
    uint32_t mesh_count;
    uint32_t instance_count;
    uint32_t material_count;
    // Number of atlas entries stored in the AtlasEntries section (equal to the
    // texture count whenever the atlas was built from the scene's textures).
    uint32_t texture_count;
    uint32_t emissive_instance_count;  // informative; not read back
    uint32_t section_count;
    uint64_t table_offset;
    uint8_t reserved[24];
};
static_assert(sizeof(VsbHeader) == 64);
static_assert(offsetof(VsbHeader, texture_count) == 20);
static_assert(offsetof(VsbHeader, table_offset) == 32);

struct VsbSectionEntry {
    uint32_t type;
    uint32_t reserved;
    uint64_t offset;  // absolute file offset of the payload
    uint64_t size;    // payload bytes
};
static_assert(sizeof(VsbSectionEntry) == 24);

// Mesh flag bits (word 10 of a mesh record).
inline constexpr uint32_t kVsbMeshNormals = 1u;
inline constexpr uint32_t kVsbMeshUvs = 2u;
inline constexpr uint32_t kVsbMeshTangents = 4u;
inline constexpr uint32_t kVsbMeshFaceMaterials = 8u;

// One mesh in the MeshTable section. Offsets are in elements of the section
// they index (vertices, u32 indices, triangles, face-material entries).
struct VsbMeshRecord {
    uint32_t vertex_count;
    uint32_t triangle_count;
    uint32_t first_vertex;         // Positions, in vertices
    uint32_t first_index;          // Indices, in u32 elements
    uint32_t first_triangle;       // FaceNormals, in triangles
    uint32_t first_normal;         // Normals, in vertices, or kVsbNoArray
    uint32_t first_uv;             // Uvs, in vertices, or kVsbNoArray
    uint32_t first_tangent;        // Tangents, in vertices, or kVsbNoArray
    uint32_t first_face_material;  // FaceMaterials, in elements, or kVsbNoArray
    uint32_t material;
    uint32_t flags;  // kVsbMesh* bits
    uint32_t reserved;
};
static_assert(sizeof(VsbMeshRecord) == 48);

struct VsbInstanceRecord {
    uint32_t mesh;
    int32_t material;
    float transform[12];
    uint32_t has_face_materials;
    uint32_t reserved[3];
};
static_assert(sizeof(VsbInstanceRecord) == 72);
static_assert(offsetof(VsbInstanceRecord, has_face_materials) == 56);

// Start of the EnvmapCdf payload; followed by u32 marginal CDF x H, f32 row
// weights x H and u32 conditional CDF x W x H.
struct VsbEnvHeader {
    int32_t width;
    int32_t height;
    float total_weight;
    float intensity;
    int32_t texture;
};
static_assert(sizeof(VsbEnvHeader) == 20);

struct VsbCamera {
    float position[3];
    float look_at[3];
    float up[3];
    float fov;
    float aperture;
    float focus_distance;
};
static_assert(sizeof(VsbCamera) == 48);

// Start of the Animation payload; followed by `keyframe_count` keyframes of
// 28 bytes laid out as CameraKeyframe.
struct VsbAnimationHeader {
    float duration;
    float fps;
    uint32_t loop;
    uint32_t keyframe_count;
};
static_assert(sizeof(VsbAnimationHeader) == 16);
static_assert(sizeof(CameraKeyframe) == 28 && offsetof(CameraKeyframe, look_at) == 16);

static_assert(sizeof(Material) == 188 && sizeof(GpuMaterial) == 188);
static_assert(sizeof(AtlasEntry) == 32);

// The writer's accumulator: the section table and the payload stream. The
// stream is a list of pieces: bytes the writer owns (`blob`, for records it
// builds), borrowed ranges of the scene's own arrays, and zero runs. Large
// arrays are therefore written straight from the scene without being copied
// first. Entry offsets are relative to the stream until save_vsb rebases
// them past the table.
class SectionWriter {
public:
    std::vector<VsbSectionEntry> entries;
    std::vector<uint8_t> blob;

    // Appends one section holding a copy of `size` bytes at the next 16-byte
    // boundary of the stream (the gap is zero). Only for non-empty payloads.
    void add(VsbSectionType type, const void* data, size_t size);

    // A section assembled from several pieces: begin, then any sequence of
    // copy/borrow/zeros, then end. Borrowed memory must stay unchanged until
    // the stream has been written.
    void begin(VsbSectionType type);
    void copy(const void* data, size_t size);
    void borrow(const void* data, size_t size);
    void zeros(uint64_t size);
    void end();

    uint64_t stream_size() const { return stream_size_; }
    // The stream in order, as ranges to write; valid while the writer and
    // the borrowed memory are unchanged.
    std::vector<ByteRange> ranges() const;

private:
    enum class PieceKind : uint8_t { Owned, Borrowed, Zeros };
    struct Piece {
        PieceKind kind;
        const uint8_t* data;   // Borrowed
        uint64_t blob_offset;  // Owned
        uint64_t size;
    };
    std::vector<Piece> pieces_;
    uint64_t stream_size_ = 0;
};

// Writes `scene` to `path` and prints "Saved .vsb: <path> (<size> MB)" to
// standard output. The new file is written beside the target under a
// temporary name ("<path>.tmp-<pid>-<random>"), flushed to disk and renamed
// over the target, so an existing cache is either replaced whole or left
// untouched, also when the disk fills or the process dies (a killed process
// may leave its temporary file behind, never a damaged target). Prints
// "Cannot write .vsb file: <path>" when the file cannot be created or
// replaced, or the scene exceeds the format's 32-bit counts and offsets, and
// "Failed to write .vsb file (disk full?): <path>" when writing fails; both
// return false. The replacement is a new file with mode 0666 minus the
// umask; a symbolic link at `path` is replaced, not followed. Never throws.
VITREL_EXPORT bool save_vsb(const char* path, const Scene& scene);

// What a file may make load_vsb allocate, in all: kVsbMaxExpansion bytes
// per byte of the file, and never more than kVsbMaxLoadBytes. A file written
// by save_vsb needs about its own size plus one copy of a mesh's face
// materials per instance of it; records that name the same ranges many
// times (valid, each on its own) could otherwise ask a small file for
// terabytes.
inline constexpr uint64_t kVsbMaxExpansion = 64;
inline constexpr uint64_t kVsbMaxLoadBytes = uint64_t{16} << 30;
inline constexpr uint64_t vsb_load_limit(uint64_t file_size) {
    return file_size > kVsbMaxLoadBytes / kVsbMaxExpansion ? kVsbMaxLoadBytes
                                                           : file_size * kVsbMaxExpansion;
}

// Reads a cache written by save_vsb and prints "Loaded .vsb: <path> (<n>
// meshes, <n> instances, <n> materials)" to standard output. Every byte is
// validated before use. An unopenable, empty or too short file, a bad magic
// or version, a section table or mesh section past the end of the file give
// a default scene with a message on standard error, and so does a file
// that would need more memory than vsb_load_limit allows ("VSB: loading
// would take more than ..."); a mesh record whose ranges do not fit in
// their sections gives an empty mesh (records may share ranges), and a
// short environment block leaves the environment off, each with a message;
// any other short or missing section silently leaves its fields at their
// defaults. Never throws and never reads outside the file, which
// must not be truncated by another process while it is read (the mapping
// would fault).
VITREL_EXPORT Scene load_vsb(const char* path);
