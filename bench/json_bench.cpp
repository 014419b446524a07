// JSON scene parsing throughput on a 50 MB file with 100,000 keyframes.
//
// Each keyframe is pretty-printed with a comment and members the loader
// ignores (name, lens values, easing and a free-text note), as exporters tend
// to write them: about 500 bytes and 14 values per keyframe.
// Measures JsonParser::parse_value on the text in memory and load_scene end
// to end (read, parse, build the keyframes, prepare the scene) from /tmp.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "scene/json.h"
#include "scene/scene_loader.h"

namespace {

constexpr int kKeyframes = 100000;
constexpr size_t kNoteChars = 240;

std::string make_scene_text() {
    std::string s = "{\n  \"animation\": {\n    \"duration\": 3333.3,\n    \"fps\": 30,\n"
                    "    \"loop\": false,\n    \"keyframes\": [\n";
    const std::string note(kNoteChars, 'x');
    char buf[512];
    for (int k = 0; k < kKeyframes; ++k) {
        std::snprintf(buf, sizeof buf,
                      "      {\n        // keyframe %d, exported by the layout tool\n"
                      "        \"name\": \"camera_key_%06d\",\n        \"time\": %.6f,\n"
                      "        \"position\": [%.6f, %.6f, %.6f],\n"
                      "        \"look_at\": [%.6f, %.6f, %.6f],\n"
                      "        \"fov\": 45.0, \"roll\": 0.0, \"ease\": \"linear\",\n        \"note\": \"",
                      k, k, k / 30.0, k * 0.01, 1.5, -k * 0.02, 0.0, 0.25, -1.0);
        s += buf;
        s += note;
        s += k + 1 < kKeyframes ? "\"\n      },\n" : "\"\n      }\n";
    }
    s += "    ]\n  }\n}\n";
    return s;
}

void parse_text(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        JsonParser p(text.data(), text.data() + text.size());
        JsonValue v = p.parse_value();
        benchmark::DoNotOptimize(v.kind);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
    state.counters["MB"] = static_cast<double>(text.size()) / 1e6;
}

void load_file(benchmark::State& state, const std::string& path, size_t bytes) {
    std::fflush(stdout);
    for (auto _ : state) {
        Scene s = load_scene(path.c_str(), 512, 512, 1.0f);
        if (s.camera_keyframes.size() != kKeyframes) state.SkipWithError("keyframes lost");
        benchmark::DoNotOptimize(s.scene_params.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

}  // namespace

int main(int argc, char** argv) {
    const std::string text = make_scene_text();
    const std::string path = "/tmp/vitrel-json-bench-" + std::to_string(getpid()) + ".json";
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    benchmark::RegisterBenchmark("JsonParse/100k_keyframes", parse_text, text)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(2.0);
    benchmark::RegisterBenchmark("LoadScene/100k_keyframes", load_file, path, text.size())
        ->Unit(benchmark::kMillisecond)
        ->MinTime(2.0);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::remove(path.c_str());
    return 0;
}
