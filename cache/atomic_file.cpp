#include "cache/atomic_file.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <random>
#include <string>

namespace {

// Temporary names carry random bits; a clash with a leftover file is retried.
constexpr int kTempNameAttempts = 16;
constexpr size_t kTempSuffixMax = 48;
constexpr mode_t kNewFileMode = 0666;
// Ranges and bytes gathered per writev call (well below IOV_MAX). Moderate
// calls keep the kernel streaming to disk instead of first dirtying the
// whole file in one go.
constexpr size_t kMaxIov = 512;
constexpr size_t kMaxWriteBytes = 8u << 20;
constexpr uint64_t kWritebackBytes = 32u << 20;

int create_temp_beside(const std::string& path, std::string& temp) {
    std::random_device random;
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        char suffix[kTempSuffixMax];
        std::snprintf(suffix, sizeof suffix, ".tmp-%ld-%08x%08x", static_cast<long>(getpid()),
                      random(), random());
        temp.assign(path).append(suffix);
        const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// Writes every range in order, gathering up to kMaxIov ranges and
// kMaxWriteBytes per call. Allocates nothing, so it cannot throw.
bool write_all(int fd, std::span<const ByteRange> parts) {
    std::array<iovec, kMaxIov> iov;
    size_t first = 0, count = 0;  // pending entries iov[first, first + count)
    size_t next = 0;              // first range not yet fully queued
    size_t taken = 0;             // bytes of parts[next] already queued
    uint64_t written = 0, flushed = 0;
    for (;;) {
        // Move the pending tail to the front, then top the batch up.
        for (size_t i = 0; i < count; ++i) iov[i] = iov[first + i];
        first = 0;
        size_t queued = 0;
        for (size_t i = 0; i < count; ++i) queued += iov[i].iov_len;
        while (count < kMaxIov && next < parts.size() && queued < kMaxWriteBytes) {
            const ByteRange& r = parts[next];
            const size_t take = std::min<size_t>(r.size - taken, kMaxWriteBytes - queued);
            if (take) iov[count++] = {const_cast<char*>(static_cast<const char*>(r.data)) + taken, take};
            queued += take;
            taken += take;
            if (taken == r.size) {
                ++next;
                taken = 0;
            }
        }
        if (count == 0) return true;
        const ssize_t n = writev(fd, iov.data(), static_cast<int>(count));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        // Start writing back what is written so far, so that the final
        // fsync has little left to do and dirty pages do not pile up.
        written += static_cast<uint64_t>(n);
        if (written - flushed >= kWritebackBytes) {
            sync_file_range(fd, static_cast<off_t>(flushed), static_cast<off_t>(written - flushed),
                            SYNC_FILE_RANGE_WRITE);
            flushed = written;
        }
        // Drop what was written, keeping a partly written range's tail.
        size_t done = static_cast<size_t>(n);
        while (count > 0 && done >= iov[first].iov_len) {
            done -= iov[first++].iov_len;
            --count;
        }
        if (done) {
            iov[first].iov_base = static_cast<char*>(iov[first].iov_base) + done;
            iov[first].iov_len -= done;
        }
    }
}

std::string directory_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Makes the rename itself durable; a failure here loses nothing already
// written, so it is not reported.
void sync_directory(const std::string& dir) {
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

}  // namespace

ReplaceResult replace_file(const char* path, std::span<const ByteRange> parts) {
    // Every allocation happens before the temporary file exists, so an
    // exception can never leave it behind.
    const std::string target(path);
    const std::string dir = directory_of(target);
    std::string temp;
    temp.reserve(target.size() + kTempSuffixMax);
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
    sync_directory(dir);
    return ReplaceResult::Ok;
}
