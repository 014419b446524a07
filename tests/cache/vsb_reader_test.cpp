// The reader against damaged and hostile files: every message, and no read
// outside the file or allocation beyond what the file backs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include "cache/vsb_format.h"
#include "vsb_test_util.h"

namespace {

LoadResult load_bytes(const ScratchDir& dir, const std::vector<uint8_t>& bytes) {
    const std::string path = dir.file("crafted.vsb");
    write_bytes(path, bytes);
    return load(path.c_str());
}

// Offset in the file of section table entry `index`.
size_t entry(size_t index) { return 64 + 24 * index; }

std::vector<uint8_t> header_only(uint32_t mesh_count, uint32_t section_count) {
    std::vector<uint8_t> f(64, 0);
    std::memcpy(f.data(), "VSB", 4);
    write_at<uint32_t>(f, 4, 2);
    write_at<uint32_t>(f, 8, mesh_count);
    write_at<uint32_t>(f, 28, section_count);
    write_at<uint64_t>(f, 32, 64);
    return f;
}

void add_entry(std::vector<uint8_t>& f, uint32_t type, uint64_t offset, uint64_t size) {
    const size_t at = f.size();
    f.resize(at + 24, 0);
    write_at<uint32_t>(f, at, type);
    write_at<uint64_t>(f, at + 8, offset);
    write_at<uint64_t>(f, at + 16, size);
}

// Loads `bytes` from an in-memory file with standard output and error
// silenced; for loops over thousands of variants.
class QuickLoader {
public:
    QuickLoader() : fd_(memfd_create("vsb", MFD_CLOEXEC)), null_(open("/dev/null", O_WRONLY | O_CLOEXEC)) {
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~QuickLoader() {
        close(fd_);
        close(null_);
    }
    Scene load(const std::vector<uint8_t>& bytes) {
        EXPECT_EQ(ftruncate(fd_, 0), 0);
        EXPECT_EQ(pwrite(fd_, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
        fflush(stdout);
        const int out = dup(1), err = dup(2);
        dup2(null_, 1);
        dup2(null_, 2);
        Scene s = load_vsb(path_.c_str());
        fflush(stdout);
        dup2(out, 1);
        dup2(err, 2);
        close(out);
        close(err);
        return s;
    }

private:
    int fd_;
    int null_;
    std::string path_;
};

bool is_default(const Scene& s) {
    const Scene d;
    return s.meshes.empty() && s.instances.empty() && s.materials.empty() &&
           s.camera_keyframes.empty() && s.camera_fov == d.camera_fov &&
           s.camera_position[2] == d.camera_position[2] && s.atlas_data.empty();
}

TEST(VsbReaderMessages, UnopenableFiles) {
    ScratchDir dir;
    const std::string missing = dir.file("nope.vsb"), empty = dir.file("empty.vsb"), folder = dir.file("");
    write_bytes(empty, {});
    for (const char* path : {missing.c_str(), empty.c_str(), folder.c_str(), static_cast<const char*>(nullptr)}) {
        const LoadResult r = load(path);
        EXPECT_EQ(r.err, std::string("Cannot open .vsb file: ") + (path ? path : "(null)") + "\n");
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(is_default(r.scene));
    }
}

TEST(VsbReaderMessages, HeaderFailures) {
    const std::string table = "Invalid .vsb section table (extends past EOF): ";
    const struct { void (*damage)(std::vector<uint8_t>&); std::string message; } cases[] = {
        {[](std::vector<uint8_t>& f) { f.pop_back(); }, "Invalid .vsb file (too small): "},
        {[](std::vector<uint8_t>& f) { f[2] = 'C'; }, "Invalid .vsb magic in: "},
        {[](std::vector<uint8_t>& f) { f[3] = 'X'; }, "Invalid .vsb magic in: "},  // the zero byte is part of it
        {[](std::vector<uint8_t>& f) { write_at<uint32_t>(f, 4, 1); }, "Unsupported .vsb version 1 (expected 2): "},
        {[](std::vector<uint8_t>& f) { write_at<uint32_t>(f, 28, 1); }, table},  // one entry announced, none there
        {[](std::vector<uint8_t>& f) { write_at<uint32_t>(f, 28, 0xFFFFFFFFu); }, table},
        {[](std::vector<uint8_t>& f) {  // offset + size wraps around
             write_at<uint32_t>(f, 28, 1);
             add_entry(f, 18, 0, 0);
             write_at<uint64_t>(f, 32, ~uint64_t{0} - 8);
         }, table},
    };
    ScratchDir dir;
    for (const auto& c : cases) {
        std::vector<uint8_t> f = header_only(0, 0);
        c.damage(f);
        const LoadResult r = load_bytes(dir, f);
        EXPECT_EQ(r.err, c.message + dir.file("crafted.vsb") + "\n");
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(is_default(r.scene));
    }
}

TEST(VsbReaderMessages, NoSectionsLoadsDefaults) {
    ScratchDir dir;
    std::vector<uint8_t> f = header_only(7, 0);
    write_at<uint32_t>(f, 12, 5);
    const LoadResult r = load_bytes(dir, f);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "Loaded .vsb: " + dir.file("crafted.vsb") + " (7 meshes, 5 instances, 0 materials)\n");
    EXPECT_TRUE(is_default(r.scene));
}

// A record whose required range leaves its section gives that one mesh
// empty; the meshes around it load unshifted.
TEST(VsbReaderMeshes, EachRequiredRangeIsChecked) {
    ScratchDir dir;
    const Scene s = make_full_scene();
    const std::vector<uint8_t> good = saved(dir, s);
    const uint64_t table = read_at<uint64_t>(good, entry(0) + 8);
    // Mesh 2 is the last: its ranges end exactly at the ends of the sections.
    const struct { uint32_t mesh; int word; uint32_t value; } cases[] = {
        {1, 3, 1000000}, {2, 0, 5}, {2, 2, 9}, {2, 1, 3}, {2, 3, 16}, {2, 4, 6},
        {2, 2, 0xFFFFFFFFu}, {2, 0, 0xFFFFFFFFu}, {2, 1, 0x80000000u},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> f = good;
        write_at<uint32_t>(f, table + 48 * c.mesh + 4 * c.word, c.value);
        const LoadResult r = load_bytes(dir, f);
        EXPECT_EQ(r.err, "VSB: mesh " + std::to_string(c.mesh) + " has out-of-bounds offsets\n")
            << c.word << "=" << c.value;
        ASSERT_EQ(r.scene.meshes.size(), 3u);
        for (uint32_t m = 0; m < 3; ++m) {
            const MeshData& got = r.scene.meshes[m];
            if (m == c.mesh) {
                EXPECT_TRUE(got.positions.empty() && got.indices.empty());
            } else {
                EXPECT_EQ(got.positions, s.meshes[m].positions) << m;
                EXPECT_EQ(got.uvs, s.meshes[m].uvs) << m;
                EXPECT_EQ(got.tangents, s.meshes[m].tangents) << m;
            }
        }
        EXPECT_EQ(r.scene.instances.size(), 4u);
    }
}

TEST(VsbReaderMeshes, OptionalRangeThatDoesNotFitIsLeftOut) {
    ScratchDir dir;
    const Scene s = make_full_scene();
    std::vector<uint8_t> f = saved(dir, s);
    const uint64_t table = read_at<uint64_t>(f, entry(0) + 8);
    write_at<uint32_t>(f, table + 48 * 2 + 4 * 6, 6);  // mesh 2's UVs run past section 6
    write_at<uint32_t>(f, table + 4 * 8, 0xFFFFFFFFu);  // mesh 0: face materials "not stored"
    const LoadResult r = load_bytes(dir, f);
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(r.scene.meshes[2].has_uvs);
    EXPECT_TRUE(r.scene.meshes[2].uvs.empty());
    EXPECT_EQ(r.scene.meshes[2].positions, s.meshes[2].positions);
    EXPECT_FALSE(r.scene.meshes[0].has_face_materials);
    EXPECT_TRUE(r.scene.meshes[0].has_normals);
    // Instances of mesh 0 keep their flag but copy the (now empty) list.
    EXPECT_TRUE(r.scene.instances[0].has_face_materials);
    EXPECT_TRUE(r.scene.instances[0].face_materials.empty());
}

// A mesh section past the end drops the whole scene; a missing one (an
// unknown type in its place) only the meshes, silently.
TEST(VsbReaderMeshes, BrokenOrMissingMeshSections) {
    ScratchDir dir;
    const std::vector<uint8_t> good = saved(dir, make_full_scene());
    std::vector<uint8_t> f = good;
    write_at<uint64_t>(f, entry(2) + 16, f.size());  // Indices too long
    LoadResult r = load_bytes(dir, f);
    EXPECT_EQ(r.err, "VSB: section data extends past EOF\n");
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(is_default(r.scene));

    f = good;
    write_at<uint32_t>(f, entry(3), 99);  // FaceNormals becomes an unknown type
    r = load_bytes(dir, f);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(r.scene.meshes.empty());
    EXPECT_EQ(r.scene.instances.size(), 4u);
}

TEST(VsbReaderHostile, HugeCountsInATinyFileFailFast) {
    // A 100-odd-byte file that claims 4 billion meshes, instances, materials
    // and atlas entries: nothing may be sized from those counts.
    std::vector<uint8_t> f = header_only(0xFFFFFFFFu, 0);
    write_at<uint32_t>(f, 12, 0xFFFFFFFFu);
    write_at<uint32_t>(f, 16, 0xFFFFFFFFu);
    write_at<uint32_t>(f, 20, 0xFFFFFFFFu);
    const uint32_t types[] = {1, 2, 3, 4, 9, 21, 10, 11};
    write_at<uint32_t>(f, 28, 8);
    const uint64_t data = 64 + 24 * 8;
    for (uint32_t t : types) add_entry(f, t, data, 48);
    f.resize(data + 48, 0);
    ScratchDir dir;
    const LoadResult r = load_bytes(dir, f);
    EXPECT_EQ(r.err, "VSB: mesh table too small for 4294967295 meshes\n");
    EXPECT_TRUE(r.scene.meshes.empty());
    EXPECT_TRUE(r.scene.instances.empty());
    EXPECT_TRUE(r.scene.materials.empty());
    EXPECT_TRUE(r.scene.gpu_materials.empty());
    EXPECT_TRUE(r.scene.atlas_entries.empty());
    EXPECT_EQ(r.out, "Loaded .vsb: " + dir.file("crafted.vsb") +
                         " (4294967295 meshes, 4294967295 instances, 4294967295 materials)\n");
}

// Mesh records may name the same ranges: each is valid on its own.
TEST(VsbReaderMeshes, SharedRangesAreValid) {
    ScratchDir dir;
    const Scene s = make_full_scene();
    std::vector<uint8_t> f = saved(dir, s);
    const uint64_t table = read_at<uint64_t>(f, entry(0) + 8);
    for (int w = 0; w < 12; ++w)  // mesh 2 becomes a second mesh 0
        write_at<uint32_t>(f, table + 48 * 2 + 4 * w, read_at<uint32_t>(f, table + 4 * w));
    const LoadResult r = load_bytes(dir, f);
    EXPECT_EQ(r.err, "");
    ASSERT_EQ(r.scene.meshes.size(), 3u);
    const MeshData& a = r.scene.meshes[0];
    const MeshData& b = r.scene.meshes[2];
    EXPECT_EQ(b.positions, s.meshes[0].positions);
    EXPECT_EQ(b.indices, a.indices);
    EXPECT_EQ(b.face_normals, a.face_normals);
    EXPECT_EQ(b.normals, a.normals);
    EXPECT_EQ(b.tangents, a.tangents);
    EXPECT_EQ(b.face_materials, a.face_materials);
    EXPECT_TRUE(b.has_normals && b.has_face_materials);
}

// A small file whose records name the same data many times, or whose
// instances each copy a mesh's face materials, may not make the reader
// allocate more than vsb_load_limit of its size.
TEST(VsbReaderHostile, SharedDataCannotMultiplyMemoryBeyondTheLimit) {
    const struct { const char* what; uint32_t meshes, tris, instances; } cases[] = {
        {"2000 meshes on one range", 2000, 333, 0},
        {"100000 instances copying face materials", 1, 10000, 100000},
    };
    for (const auto& c : cases) {
        const uint32_t verts = 3 * c.tris;
        std::vector<uint8_t> f = header_only(c.meshes, 6);
        write_at<uint32_t>(f, 12, c.instances);
        const uint64_t table = 64 + 24 * 6;
        const uint64_t pos = table + 48ull * c.meshes;
        const uint64_t idx = pos + 12ull * verts;
        const uint64_t nrm = idx + 12ull * c.tris;
        const uint64_t faces = nrm + 12ull * c.tris;
        const uint64_t inst = faces + 4ull * c.tris;
        add_entry(f, 1, table, 48ull * c.meshes);
        add_entry(f, 2, pos, 12ull * verts);
        add_entry(f, 3, idx, 12ull * c.tris);
        add_entry(f, 4, nrm, 12ull * c.tris);
        add_entry(f, 8, faces, 4ull * c.tris);
        add_entry(f, 10, inst, 72ull * c.instances);
        f.resize(inst + 72ull * c.instances, 0);
        for (uint32_t m = 0; m < c.meshes; ++m) {
            write_at<uint32_t>(f, table + 48 * m, verts);
            write_at<uint32_t>(f, table + 48 * m + 4, c.tris);
            for (int w = 5; w <= 7; ++w) write_at<uint32_t>(f, table + 48 * m + 4 * w, 0xFFFFFFFFu);
            write_at<uint32_t>(f, table + 48 * m + 40, 8u);  // face materials stored, from 0
        }
        for (uint32_t i = 0; i < c.instances; ++i) write_at<uint32_t>(f, inst + 72 * i + 56, 1);
        ScratchDir dir;
        const LoadResult r = load_bytes(dir, f);
        EXPECT_EQ(r.err, "VSB: loading would take more than " + std::to_string(vsb_load_limit(f.size())) +
                             " bytes of memory (64 per byte of the file, at most 17179869184): " +
                             dir.file("crafted.vsb") + "\n")
            << c.what;
        EXPECT_TRUE(r.scene.meshes.empty()) << c.what;
        EXPECT_TRUE(r.scene.instances.empty()) << c.what;
    }
    EXPECT_EQ(vsb_load_limit(1000), 64000u);
    EXPECT_EQ(vsb_load_limit(uint64_t{1} << 40), kVsbMaxLoadBytes);
}

TEST(VsbReaderSections, ShortEnvironmentBlock) {
    ScratchDir dir;
    const Scene s = make_full_scene();
    std::vector<uint8_t> f = saved(dir, s);
    ASSERT_EQ(read_at<uint32_t>(f, entry(14)), 14u);
    write_at<uint64_t>(f, entry(14) + 16, 91);
    LoadResult r = load_bytes(dir, f);
    EXPECT_EQ(r.err, "VSB: envmap CDF section too small (91 bytes, need 92)\n");
    EXPECT_EQ(r.scene.envmap_texture, -1);
    EXPECT_TRUE(r.scene.env_conditional_cdf.empty());
    EXPECT_EQ(r.scene.camera_fov, s.camera_fov);  // the rest still loads
    EXPECT_EQ(r.scene.meshes.size(), 3u);

    write_at<uint64_t>(f, entry(14) + 16, 19);  // no room for W and H: ignored silently
    r = load_bytes(dir, f);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.scene.env_cdf_width, 0);

    // Huge dimensions must not overflow the size check.
    std::vector<uint8_t> g = saved(dir, s);
    const uint64_t env = read_at<uint64_t>(g, entry(14) + 8);
    write_at<int32_t>(g, env, 0x7FFFFFFF);
    write_at<int32_t>(g, env + 4, 0x7FFFFFFF);
    r = load_bytes(dir, g);
    EXPECT_EQ(r.err, "VSB: envmap CDF section too small (92 bytes, need 18446744073709551615)\n");
    write_at<int32_t>(g, env, -4);  // negative dimensions are never valid
    write_at<int32_t>(g, env + 4, -3);
    r = load_bytes(dir, g);
    EXPECT_EQ(r.scene.env_cdf_width, 0);
    EXPECT_TRUE(r.scene.env_marginal_cdf.empty());
}

TEST(VsbReaderSections, ShortRecordSectionsAreAbsent) {
    ScratchDir dir;
    const Scene s = make_full_scene();
    std::vector<uint8_t> f = saved(dir, s);
    // Sections 8..13 of the table: GpuMaterials, Materials, Instances,
    // AtlasEntries, AtlasData, SrgbLut. Shorten the four record sections.
    for (size_t i : {8, 9, 10, 11}) write_at<uint64_t>(f, entry(i) + 16, read_at<uint64_t>(f, entry(i) + 16) - 1);
    write_at<uint64_t>(f, entry(13) + 16, 1023);  // sRGB table: whole floats only
    write_at<uint64_t>(f, entry(18) + 16, 47);    // camera
    write_at<uint64_t>(f, entry(19) + 16, 16 + 28 + 27);  // one whole keyframe
    const LoadResult r = load_bytes(dir, f);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(r.scene.gpu_materials.empty());
    EXPECT_TRUE(r.scene.materials.empty());
    EXPECT_TRUE(r.scene.instances.empty());
    EXPECT_TRUE(r.scene.atlas_entries.empty());
    EXPECT_EQ(r.scene.atlas_data, s.atlas_data);
    EXPECT_EQ(r.scene.srgb_lut.size(), 255u);
    EXPECT_EQ(r.scene.camera_fov, 60.0f);
    EXPECT_EQ(r.scene.anim_duration, s.anim_duration);
    ASSERT_EQ(r.scene.camera_keyframes.size(), 1u);
    EXPECT_EQ(r.scene.camera_keyframes[0].position[2], 3.0f);

    // A keyframe count larger than the payload reads the keyframes there are.
    std::vector<uint8_t> g = saved(dir, s);
    write_at<uint32_t>(g, read_at<uint64_t>(g, entry(19) + 8) + 12, 0xFFFFFFFFu);
    EXPECT_EQ(load_bytes(dir, g).scene.camera_keyframes.size(), 2u);
}

TEST(VsbReaderSections, FirstEntryOfATypeWinsAndPastEndIsAbsent) {
    ScratchDir dir;
    const Scene s = make_full_scene();
    std::vector<uint8_t> f = saved(dir, s);
    // Point the LightCdf entry past the end: it becomes absent.
    write_at<uint64_t>(f, entry(16) + 8, f.size() - 4);
    // Turn the SceneParams entry into a Camera entry ahead of the real one:
    // the camera is then read from the parameter payload.
    write_at<uint32_t>(f, entry(17), 18);
    const LoadResult r = load_bytes(dir, f);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(r.scene.light_cdf.empty());
    EXPECT_TRUE(r.scene.scene_params.empty());
    EXPECT_EQ(r.scene.camera_fov, s.scene_params[9]);
    EXPECT_EQ(r.scene.camera_position[0], s.scene_params[0]);
    EXPECT_EQ(r.scene.emissive_tri_cdf, s.emissive_tri_cdf);
}

TEST(VsbReaderRobustness, EveryPrefixFailsCleanly) {
    ScratchDir dir;
    const Scene s = make_full_scene();
    const std::vector<uint8_t> full = saved(dir, s);
    QuickLoader loader;
    for (size_t len = 0; len < full.size(); ++len) {
        const LoadResult r{loader.load(std::vector<uint8_t>(full.begin(), full.begin() + len)), "", ""};
        // The animation block ends the file, so every prefix loses it, and
        // nothing may come from beyond the prefix.
        ASSERT_TRUE(r.scene.camera_keyframes.empty()) << len;
        if (len < 64 + 24 * 20) {
            ASSERT_TRUE(is_default(r.scene)) << len;
        }
        ASSERT_TRUE(r.scene.meshes.empty() || r.scene.meshes[2].positions == s.meshes[2].positions) << len;
    }
}

TEST(VsbReaderRobustness, CorruptedHeaderAndTableBytes) {
    ScratchDir dir;
    const std::vector<uint8_t> full = saved(dir, make_full_scene());
    const size_t head = 64 + 24 * 20;
    QuickLoader loader;
    for (size_t i = 0; i < head; ++i) {
        for (uint8_t value : {uint8_t{0xFF}, uint8_t{0x80}}) {
            std::vector<uint8_t> f = full;
            f[i] ^= value;
            const LoadResult r{loader.load(f), "", ""};
            // Whatever a flipped byte does, the reader survives it; counts
            // and sizes never exceed what the file holds.
            ASSERT_LE(r.scene.atlas_data.size(), f.size()) << i;
            ASSERT_LE(r.scene.meshes.size(), 3u) << i;
            ASSERT_LE(r.scene.instances.size(), 4u) << i;
            ASSERT_LE(r.scene.materials.size(), 3u) << i;
            ASSERT_LE(r.scene.atlas_entries.size(), 2u) << i;
        }
    }
}

}  // namespace
