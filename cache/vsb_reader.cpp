// Reader of the scene cache. Every byte of the file is untrusted: each range
// is checked against the mapping in 64-bit arithmetic that cannot overflow,
// every count taken from the file is checked against the bytes that back it
// before anything is sized from it, and every allocation is charged to one
// budget proportional to the file size (kVsbMaxExpansion, kVsbMaxLoadBytes),
// so ranges named by many records cannot multiply memory use unbounded.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>

#include "cache/vsb_format.h"

namespace {

// Files and arrays at least this large get their pages faulted in with one
// call before they are copied, instead of one page fault at a time.
constexpr uint64_t kPrefaultBytes = 4u << 20;
constexpr uintptr_t kPageSize = 4096;

// A read-only private mapping of a whole file, released on every path.
class MappedFile {
public:
    explicit MappedFile(const char* path) {
        fd_ = open(path, O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) return;
        struct stat st {};
        if (fstat(fd_, &st) != 0 || st.st_size <= 0) return;
        const size_t size = static_cast<size_t>(st.st_size);
        void* p = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd_, 0);
        if (p == MAP_FAILED) return;
        madvise(p, size, MADV_SEQUENTIAL);
        data_ = static_cast<const uint8_t*>(p);
        size_ = size;
    }
    ~MappedFile() {
        if (data_) munmap(const_cast<uint8_t*>(data_), size_);
        if (fd_ >= 0) close(fd_);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Maps every page of the file in one call, ahead of reading it all.
    void prefault() const {
#ifdef MADV_POPULATE_READ
        if (data_ && size_ >= kPrefaultBytes)
            madvise(const_cast<uint8_t*>(data_), size_, MADV_POPULATE_READ);
#endif
    }
    const uint8_t* data() const { return data_; }
    uint64_t size() const { return size_; }

private:
    int fd_ = -1;
    const uint8_t* data_ = nullptr;
    uint64_t size_ = 0;
};

// One section as the table describes it.
struct Section {
    bool present = false;  // the table has an entry of this type
    bool in_file = false;  // its range lies inside the file
    const uint8_t* data = nullptr;
    uint64_t size = 0;

    // Usable for reading `bytes` bytes: present, inside the file, big enough.
    bool holds(uint64_t bytes) const { return present && in_file && size >= bytes; }
};

class SectionTable {
public:
    SectionTable(const MappedFile& file, const VsbHeader& header) : file_(file), header_(header) {}

    // The first entry of `type`.
    Section find(VsbSectionType type) const {
        Section s;
        const uint8_t* table = file_.data() + header_.table_offset;
        for (uint32_t i = 0; i < header_.section_count; ++i) {
            VsbSectionEntry e;
            std::memcpy(&e, table + uint64_t{i} * sizeof e, sizeof e);
            if (e.type != static_cast<uint32_t>(type)) continue;
            s.present = true;
            s.size = e.size;
            s.in_file = e.size <= file_.size() && e.offset <= file_.size() - e.size;
            if (s.in_file) s.data = file_.data() + e.offset;
            return s;
        }
        return s;
    }

private:
    const MappedFile& file_;
    const VsbHeader& header_;
};

// Thrown when loading would allocate more than the budget allows; caught at
// the top, where it drops the whole scene.
struct OverBudget {
    uint64_t limit;
};

// What the file may make the reader allocate: kVsbMaxExpansion bytes per
// file byte, at most kVsbMaxLoadBytes. Every array the reader fills is
// charged before it is sized.
class LoadBudget {
public:
    explicit LoadBudget(uint64_t file_size) : limit_(vsb_load_limit(file_size)), left_(limit_) {}

    void charge(uint64_t count, uint64_t element_size) {
        uint64_t bytes = 0;
        if (__builtin_mul_overflow(count, element_size, &bytes) || bytes > left_)
            throw OverBudget{limit_};
        left_ -= bytes;
    }

private:
    uint64_t limit_;
    uint64_t left_;
};

void prefault_for_writing(const void* p, uint64_t bytes) {
#ifdef MADV_POPULATE_WRITE
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(p) + kPageSize - 1) & ~(kPageSize - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + bytes) & ~(kPageSize - 1);
    if (end <= begin) return;
    // Only hints: kernels without them answer EINVAL and the copy faults as
    // usual. Huge pages cut the number of faults of a large array 512-fold.
#ifdef MADV_HUGEPAGE
    madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
    madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#else
    (void)p;
    (void)bytes;
#endif
}

// out = `count` elements of T starting at `src`, which may be unaligned,
// charged to `budget`.
template <class T>
void copy_out(std::vector<T>& out, const uint8_t* src, uint64_t count, LoadBudget& budget) {
    budget.charge(count, sizeof(T));
    if (count * sizeof(T) >= kPrefaultBytes) {
        out.clear();
        out.reserve(count);
        prefault_for_writing(out.data(), count * sizeof(T));
    }
    if (reinterpret_cast<uintptr_t>(src) % alignof(T) == 0) {
        const T* first = reinterpret_cast<const T*>(src);
        out.assign(first, first + count);
    } else {
        out.resize(count);
        if (count) std::memcpy(out.data(), src, count * sizeof(T));
    }
}

// The whole payload as elements of T (a trailing partial element is dropped).
template <class T>
void copy_whole(std::vector<T>& out, const Section& s, LoadBudget& budget) {
    if (s.present && s.in_file) copy_out(out, s.data, s.size / sizeof(T), budget);
}

// Start of elements [first, first + count) of a section of 4-byte elements,
// or null when the range is not inside it. Records may share ranges; each
// is valid on its own when it lies inside its section.
const uint8_t* range_in(const Section& s, uint64_t first, uint64_t count) {
    if (!s.present || !s.in_file) return nullptr;
    const uint64_t elements = s.size / 4;
    if (first > elements || count > elements - first) return nullptr;
    return s.data + first * 4;
}

struct MeshSections {
    Section table, positions, indices, face_normals, normals, uvs, tangents, face_materials;
};

bool load_meshes(const SectionTable& t, const VsbHeader& h, Scene& scene, LoadBudget& budget) {
    MeshSections m;
    m.table = t.find(VsbSectionType::MeshTable);
    m.positions = t.find(VsbSectionType::Positions);
    m.indices = t.find(VsbSectionType::Indices);
    m.face_normals = t.find(VsbSectionType::FaceNormals);
    if (!m.table.present || !m.positions.present || !m.indices.present || !m.face_normals.present)
        return true;
    if (!m.table.in_file || !m.positions.in_file || !m.indices.in_file || !m.face_normals.in_file) {
        std::fprintf(stderr, "VSB: section data extends past EOF\n");
        return false;
    }
    if (m.table.size / sizeof(VsbMeshRecord) < h.mesh_count) {
        std::fprintf(stderr, "VSB: mesh table too small for %u meshes\n", h.mesh_count);
        return true;
    }
    m.normals = t.find(VsbSectionType::Normals);
    m.uvs = t.find(VsbSectionType::Uvs);
    m.tangents = t.find(VsbSectionType::Tangents);
    m.face_materials = t.find(VsbSectionType::FaceMaterials);

    budget.charge(h.mesh_count, sizeof(MeshData));
    scene.meshes.resize(h.mesh_count);
    for (uint32_t i = 0; i < h.mesh_count; ++i) {
        VsbMeshRecord r;
        std::memcpy(&r, m.table.data + uint64_t{i} * sizeof r, sizeof r);
        const uint64_t vc = r.vertex_count, tc = r.triangle_count;
        const uint8_t* p = range_in(m.positions, 3ull * r.first_vertex, 3 * vc);
        const uint8_t* x = range_in(m.indices, r.first_index, 3 * tc);
        const uint8_t* n = range_in(m.face_normals, 3ull * r.first_triangle, 3 * tc);
        if (!p || !x || !n) {
            std::fprintf(stderr, "VSB: mesh %u has out-of-bounds offsets\n", i);
            continue;
        }
        MeshData& mesh = scene.meshes[i];
        copy_out(mesh.positions, p, 3 * vc, budget);
        copy_out(mesh.indices, x, 3 * tc, budget);
        copy_out(mesh.face_normals, n, 3 * tc, budget);
        mesh.material = r.material;

        struct Optional {
            uint32_t flag;
            uint32_t first;
            uint64_t first_scale;  // elements per unit of `first`
            uint64_t count;
            const Section& section;
            bool& has;
            std::vector<float>* floats;  // null for the face materials
        };
        const Optional optionals[] = {
            {kVsbMeshNormals, r.first_normal, 3, 3 * vc, m.normals, mesh.has_normals, &mesh.normals},
            {kVsbMeshUvs, r.first_uv, 2, 2 * vc, m.uvs, mesh.has_uvs, &mesh.uvs},
            {kVsbMeshTangents, r.first_tangent, 3, 3 * vc, m.tangents, mesh.has_tangents,
             &mesh.tangents},
            {kVsbMeshFaceMaterials, r.first_face_material, 1, tc, m.face_materials,
             mesh.has_face_materials, nullptr},
        };
        for (const Optional& o : optionals) {
            if (!(r.flags & o.flag) || o.first == kVsbNoArray) continue;
            const uint8_t* src = range_in(o.section, o.first_scale * o.first, o.count);
            if (!src) continue;  // does not fit: left out like an absent section
            if (o.floats)
                copy_out(*o.floats, src, o.count, budget);
            else
                copy_out(mesh.face_materials, src, o.count, budget);
            o.has = true;
        }
    }
    return true;
}

void load_instances(const SectionTable& t, const VsbHeader& h, Scene& scene, LoadBudget& budget) {
    const Section s = t.find(VsbSectionType::Instances);
    if (!s.holds(uint64_t{h.instance_count} * sizeof(VsbInstanceRecord))) return;
    budget.charge(h.instance_count, sizeof(Instance));
    scene.instances.resize(h.instance_count);
    for (uint32_t i = 0; i < h.instance_count; ++i) {
        VsbInstanceRecord r;
        std::memcpy(&r, s.data + uint64_t{i} * sizeof r, sizeof r);
        Instance& inst = scene.instances[i];
        inst.mesh = r.mesh;
        inst.material = r.material;
        std::memcpy(inst.transform, r.transform, sizeof inst.transform);
        inst.has_face_materials = (r.has_face_materials & 1u) != 0;
        // Every instance holds its own copy: the copies are what a small
        // file can multiply, so they are charged like everything else.
        if (inst.has_face_materials && r.mesh < scene.meshes.size()) {
            const std::vector<int32_t>& faces = scene.meshes[r.mesh].face_materials;
            budget.charge(faces.size(), sizeof(int32_t));
            inst.face_materials = faces;
        }
    }
}

template <class T>
void load_records(const SectionTable& t, VsbSectionType type, uint32_t count, std::vector<T>& out,
                  LoadBudget& budget) {
    const Section s = t.find(type);
    if (s.holds(uint64_t{count} * sizeof(T))) copy_out(out, s.data, count, budget);
}

void load_envmap(const SectionTable& t, Scene& scene, LoadBudget& budget) {
    const Section s = t.find(VsbSectionType::EnvmapCdf);
    if (!s.holds(sizeof(VsbEnvHeader))) return;
    VsbEnvHeader e;
    std::memcpy(&e, s.data, sizeof e);
    if (e.width < 0 || e.height < 0) return;
    const uint64_t W = static_cast<uint64_t>(e.width), H = static_cast<uint64_t>(e.height);
    // Saturating: with W and H near 2^31 the product comes close to 2^64.
    uint64_t needed = 0;
    if (__builtin_mul_overflow(H, W + 2, &needed) || __builtin_mul_overflow(needed, 4, &needed) ||
        __builtin_add_overflow(needed, sizeof(VsbEnvHeader), &needed))
        needed = UINT64_MAX;
    if (s.size < needed) {
        std::fprintf(stderr, "VSB: envmap CDF section too small (%llu bytes, need %zu)\n",
                     static_cast<unsigned long long>(s.size), static_cast<size_t>(needed));
        return;
    }
    scene.env_cdf_width = e.width;
    scene.env_cdf_height = e.height;
    scene.env_total_weight = e.total_weight;
    scene.envmap_intensity = e.intensity;
    scene.envmap_texture = e.texture;
    const uint8_t* p = s.data + sizeof e;
    copy_out(scene.env_marginal_cdf, p, H, budget);
    copy_out(scene.env_row_weights, p + 4 * H, H, budget);
    copy_out(scene.env_conditional_cdf, p + 8 * H, W * H, budget);
}

void load_camera_and_animation(const SectionTable& t, Scene& scene, LoadBudget& budget) {
    const Section cam = t.find(VsbSectionType::Camera);
    if (cam.holds(sizeof(VsbCamera))) {
        VsbCamera c;
        std::memcpy(&c, cam.data, sizeof c);
        std::memcpy(scene.camera_position, c.position, sizeof c.position);
        std::memcpy(scene.camera_look_at, c.look_at, sizeof c.look_at);
        std::memcpy(scene.camera_up, c.up, sizeof c.up);
        scene.camera_fov = c.fov;
        scene.camera_aperture = c.aperture;
        scene.camera_focus_distance = c.focus_distance;
    }
    const Section anim = t.find(VsbSectionType::Animation);
    if (anim.holds(sizeof(VsbAnimationHeader))) {
        VsbAnimationHeader a;
        std::memcpy(&a, anim.data, sizeof a);
        scene.anim_duration = a.duration;
        scene.anim_fps = a.fps;
        scene.anim_loop = a.loop != 0;
        const uint64_t fit = (anim.size - sizeof a) / sizeof(CameraKeyframe);
        const uint64_t n = std::min<uint64_t>(a.keyframe_count, fit);
        budget.charge(n, sizeof(CameraKeyframe));
        const size_t old = scene.camera_keyframes.size();
        scene.camera_keyframes.resize(old + n);
        if (n) std::memcpy(scene.camera_keyframes.data() + old, anim.data + sizeof a, n * sizeof(CameraKeyframe));
    }
}

// Everything after the header checks; false when the scene must be dropped.
bool load_sections(const MappedFile& file, const VsbHeader& h, Scene& scene) {
    const SectionTable t(file, h);
    LoadBudget budget(file.size());
    if (!load_meshes(t, h, scene, budget)) return false;
    load_records(t, VsbSectionType::GpuMaterials, h.material_count, scene.gpu_materials, budget);
    load_records(t, VsbSectionType::Materials, h.material_count, scene.materials, budget);
    load_instances(t, h, scene, budget);
    load_records(t, VsbSectionType::AtlasEntries, h.texture_count, scene.atlas_entries, budget);
    copy_whole(scene.atlas_data, t.find(VsbSectionType::AtlasData), budget);
    copy_whole(scene.srgb_lut, t.find(VsbSectionType::SrgbLut), budget);
    copy_whole(scene.emissive_tri_cdf, t.find(VsbSectionType::EmissiveTriCdf), budget);
    copy_whole(scene.light_cdf, t.find(VsbSectionType::LightCdf), budget);
    copy_whole(scene.scene_params, t.find(VsbSectionType::SceneParams), budget);
    load_envmap(t, scene, budget);
    load_camera_and_animation(t, scene, budget);
    return true;
}

Scene load_mapped(const char* path, const MappedFile& file) {
    if (!file.data()) {
        std::fprintf(stderr, "Cannot open .vsb file: %s\n", path);
        return Scene{};
    }
    if (file.size() < sizeof(VsbHeader)) {
        std::fprintf(stderr, "Invalid .vsb file (too small): %s\n", path);
        return Scene{};
    }
    VsbHeader h;
    std::memcpy(&h, file.data(), sizeof h);
    if (std::memcmp(h.magic, kVsbMagic, sizeof h.magic) != 0) {
        std::fprintf(stderr, "Invalid .vsb magic in: %s\n", path);
        return Scene{};
    }
    if (h.version != kVsbVersion) {
        std::fprintf(stderr, "Unsupported .vsb version %u (expected %u): %s\n", h.version,
                     kVsbVersion, path);
        return Scene{};
    }
    const uint64_t table_bytes = uint64_t{h.section_count} * sizeof(VsbSectionEntry);
    if (h.table_offset > file.size() || table_bytes > file.size() - h.table_offset) {
        std::fprintf(stderr, "Invalid .vsb section table (extends past EOF): %s\n", path);
        return Scene{};
    }
    Scene scene;
    file.prefault();
    try {
        if (h.section_count > 0 && !load_sections(file, h, scene)) return Scene{};
    } catch (const OverBudget& e) {
        std::fprintf(stderr,
                     "VSB: loading would take more than %llu bytes of memory (%llu per byte of "
                     "the file, at most %llu): %s\n",
                     static_cast<unsigned long long>(e.limit),
                     static_cast<unsigned long long>(kVsbMaxExpansion),
                     static_cast<unsigned long long>(kVsbMaxLoadBytes), path);
        return Scene{};
    }
    std::printf("Loaded .vsb: %s (%u meshes, %u instances, %u materials)\n", path, h.mesh_count,
                h.instance_count, h.material_count);
    return scene;
}

}  // namespace

Scene load_vsb(const char* path) {
    const char* shown = path ? path : "(null)";
    try {
        if (!path) {
            std::fprintf(stderr, "Cannot open .vsb file: %s\n", shown);
            return Scene{};
        }
        const MappedFile file(path);
        return load_mapped(path, file);
    } catch (const std::exception&) {  // out of memory for a huge but valid file
        std::fprintf(stderr, "VSB: out of memory reading %s\n", shown);
        return Scene{};
    }
}
