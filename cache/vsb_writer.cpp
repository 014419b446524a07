// Writer of the scene cache: plans the sections, then streams them to a
// temporary file straight from the scene's arrays and renames it over the
// target (cache/atomic_file.h).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <string>

#include "cache/atomic_file.h"
#include "cache/vsb_format.h"

namespace {

// Source of zero runs in the stream (alignment gaps, padding of short arrays).
constexpr size_t kZeroChunk = 64 * 1024;
const uint8_t kZeros[kZeroChunk] = {};

uint64_t align_up(uint64_t value, uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// Where each mesh's arrays go in the concatenated sections, plus the totals.
struct MeshLayout {
    std::vector<VsbMeshRecord> records;
    uint64_t vertices = 0;        // Positions, in vertices
    uint64_t indices = 0;         // Indices, in u32 elements
    uint64_t triangles = 0;       // FaceNormals, in triangles
    uint64_t normals = 0;         // Normals, in vertices
    uint64_t uvs = 0;             // Uvs, in vertices
    uint64_t tangents = 0;        // Tangents, in vertices
    uint64_t face_materials = 0;  // FaceMaterials, in elements
};

// Records use 32-bit offsets and 0xFFFFFFFF as "not stored".
constexpr uint64_t kMaxElementOffset = kVsbNoArray - 1;

bool fits_record(uint64_t first, uint64_t count) {
    return first <= kMaxElementOffset && count <= kMaxElementOffset;
}

// Plans the concatenated arrays. Exactly the element counts the reader takes
// are stored for each mesh (whole vertices and triangles), so that a mesh
// whose arrays have inconsistent lengths cannot shift the ranges of the
// meshes after it. An optional array shorter than one entry per vertex (or
// triangle) is not stored. Returns false when an offset exceeds 32 bits.
bool plan_meshes(const std::vector<MeshData>& meshes, MeshLayout& out) {
    out.records.resize(meshes.size());
    for (size_t i = 0; i < meshes.size(); ++i) {
        const MeshData& m = meshes[i];
        const uint64_t vc = m.vertex_count();
        const uint64_t tc = m.triangle_count();
        VsbMeshRecord& r = out.records[i];
        if (!fits_record(out.vertices, vc) || !fits_record(out.indices, 3 * tc) ||
            !fits_record(out.triangles, tc))
            return false;
        r = VsbMeshRecord{};
        r.vertex_count = static_cast<uint32_t>(vc);
        r.triangle_count = static_cast<uint32_t>(tc);
        r.first_vertex = static_cast<uint32_t>(out.vertices);
        r.first_index = static_cast<uint32_t>(out.indices);
        r.first_triangle = static_cast<uint32_t>(out.triangles);
        r.material = m.material;
        out.vertices += vc;
        out.indices += 3 * tc;
        out.triangles += tc;

        struct Optional {
            bool has;
            size_t size;
            uint64_t needed;  // elements one entry per vertex (triangle) takes
            uint32_t flag;
            uint64_t* total;  // running total, in vertices (triangles)
            uint32_t* first;
            uint64_t units;   // vertices (triangles) this mesh adds
        };
        const Optional optionals[] = {
            {m.has_normals, m.normals.size(), 3 * vc, kVsbMeshNormals, &out.normals, &r.first_normal, vc},
            {m.has_uvs, m.uvs.size(), 2 * vc, kVsbMeshUvs, &out.uvs, &r.first_uv, vc},
            {m.has_tangents, m.tangents.size(), 3 * vc, kVsbMeshTangents, &out.tangents,
             &r.first_tangent, vc},
            {m.has_face_materials, m.face_materials.size(), tc, kVsbMeshFaceMaterials,
             &out.face_materials, &r.first_face_material, tc},
        };
        for (const Optional& o : optionals) {
            *o.first = kVsbNoArray;
            if (!o.has || o.size == 0 || o.size < o.needed) continue;
            if (!fits_record(*o.total, o.units)) return false;
            *o.first = static_cast<uint32_t>(*o.total);
            r.flags |= o.flag;
            *o.total += o.units;
        }
    }
    return true;
}

// Streams `count` elements of `src`, zero-padded when it is shorter.
template <class T>
void borrow_elements(SectionWriter& w, const std::vector<T>& src, uint64_t count) {
    const uint64_t n = std::min<uint64_t>(count, src.size());
    if (n) w.borrow(src.data(), n * sizeof(T));
    if (count > n) w.zeros((count - n) * sizeof(T));
}

// How one concatenated mesh array maps onto the mesh records: each mesh
// stores count_scale x its vertices (or triangles) elements; `flag` 0 marks
// an array every mesh stores.
struct MeshArraySection {
    VsbSectionType type;
    uint32_t count_scale;
    bool per_triangle;
    uint32_t flag;
};

// Appends one concatenated mesh array as a section, streamed mesh by mesh in
// record order (the records' offsets are running totals, so this is the
// order of the offsets).
template <class T>
void add_concatenated(SectionWriter& w, const MeshArraySection& section, std::vector<T> MeshData::*array,
                      const std::vector<MeshData>& meshes, const std::vector<VsbMeshRecord>& records,
                      uint64_t total_elements) {
    if (total_elements == 0) return;
    w.begin(section.type);
    for (size_t i = 0; i < meshes.size(); ++i) {
        const VsbMeshRecord& r = records[i];
        if (section.flag && !(r.flags & section.flag)) continue;
        const uint64_t units = section.per_triangle ? r.triangle_count : r.vertex_count;
        borrow_elements(w, meshes[i].*array, section.count_scale * units);
    }
    w.end();
}

void add_meshes(SectionWriter& w, const std::vector<MeshData>& meshes, const MeshLayout& l) {
    if (meshes.empty()) return;
    using T = VsbSectionType;
    const auto& rec = l.records;
    w.add(T::MeshTable, rec.data(), rec.size() * sizeof(VsbMeshRecord));
    add_concatenated(w, {T::Positions, 3, false, 0}, &MeshData::positions, meshes, rec,
                     3 * l.vertices);
    add_concatenated(w, {T::Indices, 3, true, 0}, &MeshData::indices, meshes, rec, l.indices);
    add_concatenated(w, {T::FaceNormals, 3, true, 0}, &MeshData::face_normals, meshes, rec,
                     3 * l.triangles);
    add_concatenated(w, {T::Normals, 3, false, kVsbMeshNormals}, &MeshData::normals, meshes, rec,
                     3 * l.normals);
    add_concatenated(w, {T::Uvs, 2, false, kVsbMeshUvs}, &MeshData::uvs, meshes, rec, 2 * l.uvs);
    add_concatenated(w, {T::Tangents, 3, false, kVsbMeshTangents}, &MeshData::tangents, meshes,
                     rec, 3 * l.tangents);
    add_concatenated(w, {T::FaceMaterials, 1, true, kVsbMeshFaceMaterials},
                     &MeshData::face_materials, meshes, rec, l.face_materials);
}

// A scene array as one section, streamed from the scene.
template <class T>
void add_array(SectionWriter& w, VsbSectionType type, const std::vector<T>& v) {
    if (v.empty()) return;
    w.begin(type);
    w.borrow(v.data(), v.size() * sizeof(T));
    w.end();
}

void add_instances(SectionWriter& w, const std::vector<Instance>& instances) {
    if (instances.empty()) return;
    w.begin(VsbSectionType::Instances);
    for (const Instance& inst : instances) {
        VsbInstanceRecord r{};
        r.mesh = inst.mesh;
        r.material = inst.material;
        std::memcpy(r.transform, inst.transform, sizeof r.transform);
        r.has_face_materials = inst.has_face_materials ? 1u : 0u;
        w.copy(&r, sizeof r);
    }
    w.end();
}

// The environment block exists only for a built table set; its size follows
// from W and H, and arrays shorter than W and H imply are zero-padded so the
// block always parses back.
void add_envmap(SectionWriter& w, const Scene& s) {
    if (s.envmap_texture < 0 || s.env_cdf_width <= 0 || s.env_cdf_height <= 0 ||
        s.env_marginal_cdf.empty())
        return;
    const uint64_t W = static_cast<uint64_t>(s.env_cdf_width);
    const uint64_t H = static_cast<uint64_t>(s.env_cdf_height);
    const VsbEnvHeader head{s.env_cdf_width, s.env_cdf_height, s.env_total_weight,
                            s.envmap_intensity, s.envmap_texture};
    w.begin(VsbSectionType::EnvmapCdf);
    w.copy(&head, sizeof head);
    borrow_elements(w, s.env_marginal_cdf, H);
    borrow_elements(w, s.env_row_weights, H);
    borrow_elements(w, s.env_conditional_cdf, W * H);
    w.end();
}

void add_camera_and_animation(SectionWriter& w, const Scene& s) {
    VsbCamera cam{};
    std::memcpy(cam.position, s.camera_position, sizeof cam.position);
    std::memcpy(cam.look_at, s.camera_look_at, sizeof cam.look_at);
    std::memcpy(cam.up, s.camera_up, sizeof cam.up);
    cam.fov = s.camera_fov;
    cam.aperture = s.camera_aperture;
    cam.focus_distance = s.camera_focus_distance;
    w.add(VsbSectionType::Camera, &cam, sizeof cam);

    const size_t n = s.camera_keyframes.size();
    if (n < 2) return;  // a lone keyframe is not an animation
    const VsbAnimationHeader head{s.anim_duration, s.anim_fps, s.anim_loop ? 1u : 0u,
                                  static_cast<uint32_t>(n)};
    w.begin(VsbSectionType::Animation);
    w.copy(&head, sizeof head);
    w.borrow(s.camera_keyframes.data(), n * sizeof(CameraKeyframe));
    w.end();
}

bool fits_u32(size_t n) { return n <= std::numeric_limits<uint32_t>::max(); }

// Plans the payload stream in `w` and builds the header and table (with the
// zero padding up to the data start) in `head`; false when the scene exceeds
// the format's 32-bit counts and offsets.
bool build_file(const Scene& s, std::vector<uint8_t>& head, SectionWriter& w) {
    MeshLayout layout;
    if (!fits_u32(s.meshes.size()) || !fits_u32(s.instances.size()) ||
        !fits_u32(s.materials.size()) || !fits_u32(s.atlas_entries.size()) ||
        !fits_u32(s.emissive_instances.size()) || !fits_u32(s.camera_keyframes.size()) ||
        !plan_meshes(s.meshes, layout))
        return false;

    add_meshes(w, s.meshes, layout);
    add_array(w, VsbSectionType::GpuMaterials, s.gpu_materials);
    add_array(w, VsbSectionType::Materials, s.materials);
    add_instances(w, s.instances);
    add_array(w, VsbSectionType::AtlasEntries, s.atlas_entries);
    add_array(w, VsbSectionType::AtlasData, s.atlas_data);
    add_array(w, VsbSectionType::SrgbLut, s.srgb_lut);
    add_envmap(w, s);
    add_array(w, VsbSectionType::EmissiveTriCdf, s.emissive_tri_cdf);
    add_array(w, VsbSectionType::LightCdf, s.light_cdf);
    add_array(w, VsbSectionType::SceneParams, s.scene_params);
    add_camera_and_animation(w, s);

    const uint64_t table_end = kVsbTableOffset + w.entries.size() * sizeof(VsbSectionEntry);
    const uint64_t data_start = align_up(table_end, kVsbAlignment);
    for (VsbSectionEntry& e : w.entries) e.offset += data_start;

    VsbHeader header{};
    std::memcpy(header.magic, kVsbMagic, sizeof header.magic);
    header.version = kVsbVersion;
    header.mesh_count = static_cast<uint32_t>(s.meshes.size());
    header.instance_count = static_cast<uint32_t>(s.instances.size());
    header.material_count = static_cast<uint32_t>(s.materials.size());
    // The count of directory entries actually stored: a scene restored from a
    // cache has atlas entries but no textures, and must keep them when saved.
    header.texture_count = static_cast<uint32_t>(s.atlas_entries.size());
    header.emissive_instance_count = static_cast<uint32_t>(s.emissive_instances.size());
    header.section_count = static_cast<uint32_t>(w.entries.size());
    header.table_offset = kVsbTableOffset;

    head.assign(data_start, 0);
    std::memcpy(head.data(), &header, sizeof header);
    if (!w.entries.empty())
        std::memcpy(head.data() + kVsbTableOffset, w.entries.data(),
                    w.entries.size() * sizeof(VsbSectionEntry));
    return true;
}

}  // namespace

void SectionWriter::begin(VsbSectionType type) {
    const uint64_t offset = align_up(stream_size_, kVsbAlignment);
    zeros(offset - stream_size_);
    entries.push_back({static_cast<uint32_t>(type), 0, offset, 0});
}

void SectionWriter::copy(const void* data, size_t size) {
    if (size == 0) return;
    const uint64_t at = blob.size();
    blob.insert(blob.end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
    if (!pieces_.empty() && pieces_.back().kind == PieceKind::Owned &&
        pieces_.back().blob_offset + pieces_.back().size == at)
        pieces_.back().size += size;
    else
        pieces_.push_back({PieceKind::Owned, nullptr, at, size});
    stream_size_ += size;
}

void SectionWriter::borrow(const void* data, size_t size) {
    if (size == 0) return;
    pieces_.push_back({PieceKind::Borrowed, static_cast<const uint8_t*>(data), 0, size});
    stream_size_ += size;
}

void SectionWriter::zeros(uint64_t size) {
    if (size == 0) return;
    if (!pieces_.empty() && pieces_.back().kind == PieceKind::Zeros)
        pieces_.back().size += size;
    else
        pieces_.push_back({PieceKind::Zeros, nullptr, 0, size});
    stream_size_ += size;
}

void SectionWriter::end() { entries.back().size = stream_size_ - entries.back().offset; }

void SectionWriter::add(VsbSectionType type, const void* data, size_t size) {
    begin(type);
    copy(data, size);
    end();
}

std::vector<ByteRange> SectionWriter::ranges() const {
    std::vector<ByteRange> out;
    out.reserve(pieces_.size());
    for (const Piece& p : pieces_) {
        switch (p.kind) {
            case PieceKind::Owned: out.push_back({blob.data() + p.blob_offset, p.size}); break;
            case PieceKind::Borrowed: out.push_back({p.data, p.size}); break;
            case PieceKind::Zeros:
                for (uint64_t left = p.size; left > 0;) {
                    const uint64_t n = std::min<uint64_t>(left, kZeroChunk);
                    out.push_back({kZeros, n});
                    left -= n;
                }
                break;
        }
    }
    return out;
}

bool save_vsb(const char* path, const Scene& scene) {
    const char* shown = path ? path : "(null)";
    std::vector<uint8_t> head;
    SectionWriter writer;
    ReplaceResult result = ReplaceResult::CannotCreate;
    try {
        if (path && build_file(scene, head, writer)) {
            std::vector<ByteRange> parts = writer.ranges();
            parts.insert(parts.begin(), ByteRange{head.data(), head.size()});
            result = replace_file(path, parts);
        }
    } catch (const std::exception&) {
        // Out of memory planning the file: nothing was written.
        result = ReplaceResult::CannotCreate;
    }
    switch (result) {
        case ReplaceResult::Ok: break;
        case ReplaceResult::CannotCreate:
            std::fprintf(stderr, "Cannot write .vsb file: %s\n", shown);
            return false;
        case ReplaceResult::WriteFailed:
            std::fprintf(stderr, "Failed to write .vsb file (disk full?): %s\n", shown);
            return false;
    }
    const double megabytes = static_cast<double>(head.size() + writer.stream_size()) / 1048576.0;
    std::printf("Saved .vsb: %s (%.1f MB)\n", path, megabytes);
    return true;
}
