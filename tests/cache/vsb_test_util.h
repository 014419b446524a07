// Helpers shared by the scene cache tests: words inside file bytes, a scene that fills every stored field, and a field-by-field comparison.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "scene/scene.h"
#include "scratch_dir.h"

template <class T>
T read_at(const std::vector<uint8_t>& bytes, size_t offset) {
    T v;
    std::memcpy(&v, bytes.data() + offset, sizeof v);
    return v;
}

template <class T>
void write_at(std::vector<uint8_t>& bytes, size_t offset, T value) {
    std::memcpy(bytes.data() + offset, &value, sizeof value);
}

// Saves `s` as dir/name with standard output swallowed (the save must
// succeed); returns the file's bytes.
std::vector<uint8_t> saved(const ScratchDir& dir, const Scene& s, const std::string& name = "good.vsb");

// What load_vsb read from `path` and printed.
struct LoadResult {
    Scene scene;
    std::string out;
    std::string err;
};
LoadResult load(const char* path);

// Three meshes (one with every optional array and face materials, one with
// none, one with UVs only), instances with and without face materials,
// materials and packed materials, an atlas of two entries, environment
// tables, light tables, parameters, sRGB table, camera and a two-keyframe
// animation, every value distinct.
Scene make_full_scene();

// Reports every difference in the fields the cache stores.
void expect_stored_fields_equal(const Scene& a, const Scene& b);

// The fields a cache does not store are at their defaults.
void expect_unstored_fields_default(const Scene& s);
