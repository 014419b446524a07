#include "gpu_test_support.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

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

size_t GpuTest::program(const std::string& file, uint32_t bindings,
                        const std::vector<std::string>& macros) {
    std::string key = file;
    for (const std::string& m : macros) key += " " + m;
    if (auto it = programs_.find(key); it != programs_.end()) return it->second;
    const std::string path = std::string(VITREL_TEST_PROGRAM_DIR) + "/" + file;
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot open " + path);
    std::stringstream text;
    text << in.rdbuf();
    const size_t id = harness_->compile(text.str(), file, bindings, macros);
    programs_[key] = id;
    return id;
}
