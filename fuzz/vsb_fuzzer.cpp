// Fuzzes the scene cache reader: the input becomes an in-memory file that
// load_vsb maps like any other. Whatever it holds, the reader must not read
// outside the mapping, allocate beyond vsb_load_limit of the file size, or
// throw. Run with -close_fd_mask=3 to silence the reader's messages, and
// with -malloc_limit_mb / -rss_limit_mb (scripts/test.sh) so that a single
// oversized allocation is a finding even before it is filled.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cache/vsb_format.h"

namespace {

template <class T>
size_t bytes_of(const std::vector<T>& v) {
    return v.size() * sizeof(T);
}

// Everything the loaded scene holds that the reader sized from the file.
size_t loaded_bytes(const Scene& s) {
    size_t bytes = bytes_of(s.meshes) + bytes_of(s.instances) + bytes_of(s.materials) +
                   bytes_of(s.gpu_materials) + bytes_of(s.atlas_entries) + bytes_of(s.atlas_data) +
                   bytes_of(s.srgb_lut) + bytes_of(s.emissive_tri_cdf) + bytes_of(s.light_cdf) +
                   bytes_of(s.scene_params) + bytes_of(s.env_marginal_cdf) +
                   bytes_of(s.env_row_weights) + bytes_of(s.env_conditional_cdf) +
                   bytes_of(s.camera_keyframes);
    for (const MeshData& m : s.meshes)
        bytes += bytes_of(m.positions) + bytes_of(m.indices) + bytes_of(m.face_normals) +
                 bytes_of(m.normals) + bytes_of(m.uvs) + bytes_of(m.tangents) +
                 bytes_of(m.face_materials);
    for (const Instance& i : s.instances) bytes += bytes_of(i.face_materials);
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int fd = memfd_create("vsb-fuzz", MFD_CLOEXEC);
    if (fd < 0) return 0;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    const Scene scene = load_vsb(path.c_str());
    if (loaded_bytes(scene) > vsb_load_limit(size)) __builtin_trap();
    close(fd);
    return 0;
}
