#include "gpu_test_support.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "scene/ess_lut.h"

std::unique_ptr<ComputeHarness> GpuTest::harness_;
std::map<std::string, size_t> GpuTest::programs_;
uint32_t GpuTest::messagesSeen_ = 0;

void GpuTest::SetUpTestSuite() {
    if (!harness_) harness_ = std::make_unique<ComputeHarness>();
}

void GpuTest::TearDown() {
    const uint32_t now = harness_->validationMessages();
    EXPECT_EQ(now, messagesSeen_) << "validation layer reported warnings or errors";
    messagesSeen_ = now;
}

std::string test_program_source(const std::string& file) {
    const std::string path = std::string(VITREL_TEST_PROGRAM_DIR) + "/" + file;
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot open " + path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

size_t GpuTest::program(const std::string& file, uint32_t bindings,
                        const std::vector<std::string>& macros) {
    std::string key = file;
    for (const std::string& m : macros) key += " " + m;
    if (auto it = programs_.find(key); it != programs_.end()) return it->second;
    const size_t id = harness_->compile(test_program_source(file), file, bindings, macros);
    programs_[key] = id;
    return id;
}

std::unique_ptr<GpuBuffer> GpuTest::upload_shading_tables() {
    return upload(binding4_table(std::vector<uint16_t>(ess_lut_precomputed, ess_lut_precomputed + kEssLutSize)));
}

GpuTest::Atlas GpuTest::upload_atlas(const Scene& scene, const std::vector<AtlasEntry>& extra) {
    std::vector<uint8_t> bytes = scene.atlas_data;
    bytes.resize((bytes.size() + 3) / 4 * 4, 0);
    std::vector<AtlasEntry> entries = scene.atlas_entries;
    entries.insert(entries.end(), extra.begin(), extra.end());
    return {upload(bytes), upload(entries), upload(scene.srgb_lut)};
}
