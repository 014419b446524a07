#include "cache/atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <string>

namespace {

// Temporary names carry random bits; a clash with a leftover file is retried.
constexpr int kTempNameAttempts = 16;
constexpr mode_t kNewFileMode = 0666;

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

bool write_all(int fd, const ByteRange& part) {
    const char* p = static_cast<const char*>(part.data);
    size_t left = part.size;
    while (left > 0) {
        const ssize_t n = write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        left -= static_cast<size_t>(n);
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
    bool ok = true;
    for (const ByteRange& part : parts) ok = ok && write_all(fd, part);
    ok = ok && fsync(fd) == 0;
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
