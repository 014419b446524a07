// Fuzzes the scene cache reader: the input becomes an in-memory file that
// load_vsb maps like any other. Whatever it holds, the reader must not read
// outside the mapping, allocate beyond what the file backs, or throw.
// Run with -close_fd_mask=3 to silence the reader's messages.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "cache/vsb_format.h"

namespace {
constexpr size_t kSectionTypes = 21;
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
    // Everything loaded is copied from the file, each section at most once,
    // so the arrays together cannot outgrow one file per section type.
    size_t bytes = scene.atlas_data.size() + 4 * scene.scene_params.size() +
                   4 * scene.env_conditional_cdf.size() + 28 * scene.camera_keyframes.size();
    for (const MeshData& m : scene.meshes)
        bytes += 4 * (m.positions.size() + m.indices.size() + m.face_normals.size());
    if (bytes > kSectionTypes * size) __builtin_trap();
    close(fd);
    return 0;
}
