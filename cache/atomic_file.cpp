#include "cache/atomic_file.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

// Temporary names carry random bits; a clash with a leftover file is retried.
constexpr int kTempNameAttempts = 16;
constexpr mode_t kNewFileMode = 0666;
// Ranges and bytes gathered per writev call (well below IOV_MAX). Moderate
// calls keep the kernel streaming to disk instead of first dirtying the
// whole file in one go.
constexpr size_t kMaxIov = 512;
constexpr size_t kMaxWriteBytes = 8u << 20;

int create_temp_beside(const std::string& path, std::string& temp) {
    std::random_device random;
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        char suffix[48];
        std::snprintf(suffix, sizeof suffix, ".tmp-%ld-%08x%08x", static_cast<long>(getpid()),
                      random(), random());
        temp = path + suffix;
        const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// Writes every range in order, gathering up to kMaxIov ranges per call.
bool write_all(int fd, std::span<const ByteRange> parts) {
    std::vector<iovec> iov;
    iov.reserve(kMaxIov);
    size_t next = 0;   // first range not yet fully queued
    size_t taken = 0;  // bytes of parts[next] already queued
    while (next < parts.size() || !iov.empty()) {
        // Queue at most kMaxWriteBytes per call, splitting a large range.
        size_t queued = 0;
        for (const iovec& v : iov) queued += v.iov_len;
        while (iov.size() < kMaxIov && next < parts.size() && queued < kMaxWriteBytes) {
            const ByteRange& r = parts[next];
            const size_t take = std::min<size_t>(r.size - taken, kMaxWriteBytes - queued);
            if (take) iov.push_back({const_cast<char*>(static_cast<const char*>(r.data)) + taken, take});
            queued += take;
            taken += take;
            if (taken == r.size) {
                ++next;
                taken = 0;
            }
        }
        if (iov.empty()) break;
        const ssize_t n = writev(fd, iov.data(), static_cast<int>(iov.size()));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        // Drop what was written, keeping a partly written range's tail.
        size_t done = static_cast<size_t>(n);
        size_t k = 0;
        while (k < iov.size() && done >= iov[k].iov_len) done -= iov[k++].iov_len;
        iov.erase(iov.begin(), iov.begin() + static_cast<std::ptrdiff_t>(k));
        if (done) {
            iov[0].iov_base = static_cast<char*>(iov[0].iov_base) + done;
            iov[0].iov_len -= done;
        }
    }
    return true;
}

// Makes the rename itself durable; a failure here loses nothing already
// written, so it is not reported.
void sync_directory_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

}  // namespace

ReplaceResult replace_file(const char* path, std::span<const ByteRange> parts) {
    const std::string target(path);
    std::string temp;
    const int fd = create_temp_beside(target, temp);
    if (fd < 0) return ReplaceResult::CannotCreate;
    bool ok = write_all(fd, parts) && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    if (!ok) {
        unlink(temp.c_str());
        return ReplaceResult::WriteFailed;
    }
    if (rename(temp.c_str(), target.c_str()) != 0) {
        unlink(temp.c_str());
        return ReplaceResult::CannotCreate;
    }
    sync_directory_of(target);
    return ReplaceResult::Ok;
}
