// Scene cache throughput against the floor of copying the same bytes.
//
// Builds a scene of about 1 GiB (20 million triangles in 20 meshes with
// normals, UVs and tangents, plus a 64 MiB atlas), then measures in one run:
//   - save_vsb of the scene (includes flushing the file to disk),
//   - load_vsb of the file just written (from the page cache),
//   - copying that file cp-style (read/write in 1 MiB chunks), without and
//     with a final fsync, which bound what any writer can reach,
//   - reading the file into one freshly allocated buffer, the floor of any
//     reader that must hand back the data in memory.
// The operations are interleaved round by round, since this machine's
// memory and disk speeds drift; prints the best of N rounds of each and the
// ratios. Files live in a fresh
// directory under /tmp (or argv[1]) and are removed at the end.
//
//   vsb_file_bench [directory] [runs]
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cache/vsb_format.h"

namespace {

constexpr uint32_t kMeshes = 20;
constexpr uint32_t kTrianglesPerMesh = 1000000;
constexpr size_t kAtlasBytes = 64u << 20;
constexpr size_t kCopyChunk = 1u << 20;

MeshData make_mesh(uint32_t seed) {
    // A strip of quads: two triangles per pair of new vertices.
    const uint32_t verts = kTrianglesPerMesh / 2 + 2;
    MeshData m;
    m.positions.resize(3ull * verts);
    for (uint32_t v = 0; v < verts; ++v) {
        m.positions[3ull * v] = static_cast<float>(v / 2);
        m.positions[3ull * v + 1] = static_cast<float>(v % 2);
        m.positions[3ull * v + 2] = static_cast<float>(seed);
    }
    m.indices.resize(3ull * kTrianglesPerMesh);
    for (uint32_t t = 0; t < kTrianglesPerMesh; ++t) {
        m.indices[3ull * t] = t;
        m.indices[3ull * t + 1] = t + 1;
        m.indices[3ull * t + 2] = t + 2;
    }
    m.face_normals.assign(3ull * kTrianglesPerMesh, 0.5f);
    m.normals.assign(3ull * verts, 0.25f);
    m.uvs.assign(2ull * verts, 0.75f);
    m.tangents.assign(3ull * verts, 0.125f);
    m.has_normals = m.has_uvs = m.has_tangents = true;
    m.material = seed % 4;
    return m;
}

Scene make_scene() {
    Scene s;
    for (uint32_t i = 0; i < kMeshes; ++i) s.meshes.push_back(make_mesh(i));
    s.materials.resize(4);
    s.gpu_materials.resize(4);
    for (uint32_t i = 0; i < kMeshes; ++i) {
        Instance inst;
        inst.mesh = i;
        s.instances.push_back(inst);
    }
    s.atlas_data.assign(kAtlasBytes, 0x3C);
    s.atlas_entries.push_back(AtlasEntry{0, 4096, 4096, 4, 0, {0, 0, 0}});
    s.srgb_lut.assign(256, 0.5f);
    return s;
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// cp: read and write in chunks; optionally fsync the copy. With `replace`
// the copy goes to a new file that is then renamed over `to`, the pattern
// save_vsb follows so that an existing file is never half overwritten.
bool copy_file(const std::string& from, const std::string& to, bool sync, bool replace = false) {
    const std::string target = replace ? to + ".new" : to;
    const int in = open(from.c_str(), O_RDONLY);
    const int out = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char> buf(kCopyChunk);
    bool ok = in >= 0 && out >= 0;
    while (ok) {
        const ssize_t n = read(in, buf.data(), buf.size());
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        ok = write(out, buf.data(), static_cast<size_t>(n)) == n;
    }
    if (ok && sync) ok = fsync(out) == 0;
    if (in >= 0) close(in);
    if (out >= 0) close(out);
    if (ok && replace) ok = rename(target.c_str(), to.c_str()) == 0;
    return ok;
}

// Reads the whole file into a new buffer of its size.
// The buffer is handed back so that freeing it is not timed.
bool read_fresh(const std::string& path, std::vector<char>& buf) {
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    const off_t size = lseek(fd, 0, SEEK_END);
    buf.resize(static_cast<size_t>(size));
    size_t done = 0;
    while (done < buf.size()) {
        const ssize_t n = pread(fd, buf.data() + done, buf.size() - done, static_cast<off_t>(done));
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    close(fd);
    return done == buf.size();
}

template <class F>
double timed(F&& f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return seconds_since(t0);
}

}  // namespace

int main(int argc, char** argv) {
    std::string base = argc > 1 ? argv[1] : "/tmp";
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    std::string tmpl = base + "/vitrel-vsb-bench-XXXXXX";
    if (!mkdtemp(tmpl.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = tmpl.c_str();
    const std::string file = dir + "/scene.vsb";
    const std::string copy = dir + "/copy.vsb";

    Scene scene = make_scene();
    bool ok = true;
    // Silence the per-call lines of save_vsb/load_vsb while timing.
    std::fflush(stdout);
    const int saved_stdout = dup(1);
    const int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, 1);
    double save = 1e30, load = 1e30, cp = 1e30, cp_sync = 1e30, cp_replace = 1e30, fresh = 1e30;
    size_t loaded_meshes = 0;
    for (int r = 0; r < runs; ++r) {
        save = std::min(save, timed([&] { ok = save_vsb(file.c_str(), scene) && ok; }));
        {
            // The loaded scene is freed outside the timed region.
            Scene back;
            load = std::min(load, timed([&] { back = load_vsb(file.c_str()); }));
            loaded_meshes = back.meshes.size();
        }
        cp = std::min(cp, timed([&] { ok = copy_file(file, copy, false) && ok; }));
        cp_sync = std::min(cp_sync, timed([&] { ok = copy_file(file, copy, true) && ok; }));
        cp_replace = std::min(cp_replace, timed([&] { ok = copy_file(file, copy, true, true) && ok; }));
        {
            std::vector<char> buf;
            fresh = std::min(fresh, timed([&] { ok = read_fresh(file, buf) && ok; }));
        }
    }
    std::fflush(stdout);
    dup2(saved_stdout, 1);
    close(null_fd);
    close(saved_stdout);

    const off_t bytes = [&] {
        const int fd = open(file.c_str(), O_RDONLY);
        const off_t size = lseek(fd, 0, SEEK_END);
        close(fd);
        return size;
    }();
    unlink(file.c_str());
    unlink(copy.c_str());
    rmdir(dir.c_str());
    if (!ok || loaded_meshes != kMeshes) {
        std::fprintf(stderr, "benchmark run failed\n");
        return 1;
    }
    const double gib = static_cast<double>(bytes) / (1u << 30);
    std::printf("file: %.3f GiB, best of %d runs\n", gib, runs);
    std::printf("save_vsb        %7.3f s  %6.2f GiB/s  %.2fx cp, %.2fx cp+fsync, %.2fx cp+fsync+rename\n",
                save, gib / save, save / cp, save / cp_sync, save / cp_replace);
    std::printf("load_vsb        %7.3f s  %6.2f GiB/s  %.2fx cp, %.2fx read into new buffer\n", load,
                gib / load, load / cp, load / fresh);
    std::printf("cp (read/write) %7.3f s  %6.2f GiB/s\n", cp, gib / cp);
    std::printf("cp + fsync      %7.3f s  %6.2f GiB/s\n", cp_sync, gib / cp_sync);
    std::printf("cp new+fsync+mv %7.3f s  %6.2f GiB/s\n", cp_replace, gib / cp_replace);
    std::printf("read, new buf   %7.3f s  %6.2f GiB/s\n", fresh, gib / fresh);
    return 0;
}
