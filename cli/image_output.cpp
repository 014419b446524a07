#include "cli/image_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <algorithm>
#include <cctype>

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfOutputFile.h>
#include <ImfStringAttribute.h>

#include "cli/png_encode.h"

namespace {

constexpr size_t kPngSignatureBytes = 8;
constexpr size_t kPngIhdrChunkBytes = 25;  // length, type, 13 data bytes, CRC
constexpr int kPngChannels = 3;
constexpr int kMaxFrameDigits = 16;

uint32_t crc32(const uint8_t* data, size_t n, uint32_t crc = 0xFFFFFFFFu) {
    for (size_t i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc;
}

void put_u32_be(std::vector<uint8_t>& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(v >> s));
}

// A PNG tEXt chunk: keyword, NUL, text; CRC over type and data.
std::vector<uint8_t> text_chunk(const std::string& key, const std::string& value) {
    std::vector<uint8_t> body = {'t', 'E', 'X', 't'};
    body.insert(body.end(), key.begin(), key.end());
    body.push_back(0);
    body.insert(body.end(), value.begin(), value.end());
    std::vector<uint8_t> chunk;
    put_u32_be(chunk, static_cast<uint32_t>(body.size() - 4));
    chunk.insert(chunk.end(), body.begin(), body.end());
    put_u32_be(chunk, crc32(body.data(), body.size()) ^ 0xFFFFFFFFu);
    return chunk;
}

void write_all_then_rename(const std::string& path, const std::vector<uint8_t>& bytes) {
    const std::string tmp = temporary_path(path);
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) throw OutputError("cannot write " + path + ": " + std::strerror(errno));
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int err = errno;
            ::close(fd);
            ::unlink(tmp.c_str());
            throw OutputError("cannot write " + path + ": " + std::strerror(err ? err : EIO));
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0 || std::rename(tmp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        throw OutputError("cannot write " + path + ": " + std::strerror(err));
    }
}

}  // namespace

std::string temporary_path(const std::string& path) {
    return path + ".tmp-" + std::to_string(::getpid());
}

void write_png(const std::string& path, const uint8_t* rgba, int width, int height, const ImageMetadata& meta) {
    if (!rgba || width < 1 || height < 1) throw OutputError("cannot write " + path + ": no image");
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * kPngChannels);
    for (size_t i = 0; i < rgb.size() / kPngChannels; ++i)
        for (int k = 0; k < kPngChannels; ++k) rgb[i * kPngChannels + k] = rgba[i * 4 + k];
    int len = 0;
    std::unique_ptr<unsigned char, void (*)(void*)> png(png_encode(rgb.data(), width, height, kPngChannels, &len),
                                                        std::free);
    if (!png || static_cast<size_t>(len) < kPngSignatureBytes + kPngIhdrChunkBytes) {
        throw OutputError("cannot write " + path + ": PNG encoding failed");
    }
    const size_t head = kPngSignatureBytes + kPngIhdrChunkBytes;
    std::vector<uint8_t> file(png.get(), png.get() + head);
    for (const auto& [key, value] : meta) {
        const std::vector<uint8_t> chunk = text_chunk(key, value);
        file.insert(file.end(), chunk.begin(), chunk.end());
    }
    file.insert(file.end(), png.get() + head, png.get() + len);
    write_all_then_rename(path, file);
}

void write_exr(const std::string& path, const float* rgba, int width, int height, const AovPlanes& aovs,
               const ImageMetadata& meta) {
    if (!rgba || width < 1 || height < 1) throw OutputError("cannot write " + path + ": no image");
    const std::string tmp = temporary_path(path);
    const size_t n = static_cast<size_t>(width) * height;
    std::vector<float> ids;
    if (aovs.object_id) {
        ids.resize(n);
        for (size_t i = 0; i < n; ++i) ids[i] = static_cast<float>(aovs.object_id[i]);
    }
    try {
        Imf::Header header(width, height);
        for (const auto& [key, value] : meta) header.insert(key, Imf::StringAttribute(value));
        Imf::FrameBuffer fb;
        auto add = [&](const char* name, const float* base, size_t per_pixel) {
            header.channels().insert(name, Imf::Channel(Imf::FLOAT));
            fb.insert(name, Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(const_cast<float*>(base)),
                                       sizeof(float) * per_pixel, sizeof(float) * per_pixel * width));
        };
        add("R", rgba + 0, 4);
        add("G", rgba + 1, 4);
        add("B", rgba + 2, 4);
        add("A", rgba + 3, 4);
        if (aovs.depth) add("depth.Z", aovs.depth, 1);
        if (aovs.normal) {
            add("normal.X", aovs.normal + 0, 3);
            add("normal.Y", aovs.normal + 1, 3);
            add("normal.Z", aovs.normal + 2, 3);
        }
        if (aovs.object_id) add("object_id.id", ids.data(), 1);
        {
            Imf::OutputFile file(tmp.c_str(), header);
            file.setFrameBuffer(fb);
            file.writePixels(height);
        }
        if (std::rename(tmp.c_str(), path.c_str()) != 0) {
            throw OutputError("cannot write " + path + ": " + std::strerror(errno));
        }
    } catch (const OutputError&) {
        ::unlink(tmp.c_str());
        throw;
    } catch (const std::exception& e) {
        ::unlink(tmp.c_str());
        throw OutputError("cannot write " + path + ": " + e.what());
    }
}

std::string frame_path(const std::string& pattern, int frame) {
    char digits[32];
    for (size_t at = pattern.find('%'); at != std::string::npos; at = pattern.find('%', at + 1)) {
        size_t end = at + 1;
        while (end < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[end]))) ++end;
        if (end >= pattern.size() || pattern[end] != 'd') continue;
        const int width = std::min(std::atoi(pattern.substr(at + 1, end - at - 1).c_str()), kMaxFrameDigits);
        std::snprintf(digits, sizeof digits, "%0*d", width, frame);
        return pattern.substr(0, at) + digits + pattern.substr(end + 1);
    }
    std::snprintf(digits, sizeof digits, "_%04d", frame);
    const size_t dot = pattern.find_last_of('.');
    const size_t slash = pattern.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return pattern + digits;
    return pattern.substr(0, dot) + digits + pattern.substr(dot);
}
