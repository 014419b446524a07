// Fuzzes the JSON reader: any byte string either parses or throws
// std::runtime_error, within the nesting limit and without reading past the
// input. Lookups on the result must be safe as well.
#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "scene/json.h"

namespace {

// Walks the tree (depth is bounded by the parser's limit).
size_t count_nodes(const JsonValue& v) {
    size_t n = 1;
    for (const JsonValue& e : v.array) n += count_nodes(e);
    for (const auto& [key, e] : v.object) n += count_nodes(e);
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* begin = reinterpret_cast<const char*>(data);
    JsonParser parser(begin, begin + size);
    try {
        const JsonValue v = parser.parse_value();
        const JsonValue& anim = v["animation"];
        (void)anim["keyframes"]["time"];
        if (count_nodes(v) == 0) __builtin_trap();
        if (parser.remaining() > size) __builtin_trap();
    } catch (const std::runtime_error&) {
    }
    return 0;
}
