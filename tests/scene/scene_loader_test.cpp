// load_scene: reading the camera animation from JSON scene files. (Numbers
// under a decimal-comma locale are the JSON parser's, tested there.)
#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "scratch_dir.h"
#include "scene/scene_loader.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

constexpr size_t kParamsHeader = 32;
constexpr size_t kAnimHeader = 8;
constexpr size_t kKeyframeFloats = 8;

class SceneLoader : public testing::Test {
protected:
    const std::string& write(const std::string& text) {
        std::ofstream(path_, std::ios::binary) << text;
        return path_;
    }
    Scene load(const std::string& text) {
        write(text);
        CaptureStdout();
        CaptureStderr();
        Scene s = load_scene(path_.c_str(), 640, 480, 1.0f);
        err_ = GetCapturedStderr();
        out_ = GetCapturedStdout();
        return s;
    }

    ScratchDir dir_;
    std::string path_ = dir_.file("scene.json"), out_, err_;
};

bool prepared(const Scene& s) { return s.scene_params.size() >= kParamsHeader && s.srgb_lut.size() == 256; }

TEST_F(SceneLoader, EmptyObjectGivesPreparedDefaultScene) {
    const Scene s = load("{}");
    EXPECT_EQ(out_.rfind("Loading scene: " + path_ + "\n", 0), 0u) << out_;
    EXPECT_EQ(err_, "");
    EXPECT_TRUE(prepared(s));
    EXPECT_EQ(s.scene_params.size(), kParamsHeader);
    EXPECT_EQ(s.camera_position[1], 1.0f);
    EXPECT_EQ(s.anim_fps, 30.0f);
    EXPECT_TRUE(s.camera_keyframes.empty());
}

TEST_F(SceneLoader, FullAnimation) {
    const Scene s = load(R"({
        "other": [1, 2, 3],
        "animation": {
            "duration": 4.5, "fps": 24, "loop": true,
            // comments are allowed
            "keyframes": [
                {"time": 0, "position": [1, 2, 3], "look_at": [4, 5, 6]},
                {"time": 4.5, "position": [-1, -2, -3, 99], "look_at": [7, 8, 9], "extra": 1}
            ]
        }
    })");
    ASSERT_TRUE(prepared(s));
    EXPECT_EQ(s.anim_duration, 4.5f);
    EXPECT_EQ(s.anim_fps, 24.0f);
    EXPECT_TRUE(s.anim_loop);
    ASSERT_EQ(s.camera_keyframes.size(), 2u);
    EXPECT_EQ(s.camera_keyframes[1].time, 4.5f);
    EXPECT_EQ(s.camera_keyframes[1].position[2], -3.0f);
    EXPECT_EQ(s.camera_keyframes[1].look_at[0], 7.0f);
    EXPECT_EQ(s.camera_position[0], 1.0f);
    EXPECT_EQ(s.camera_look_at[2], 6.0f);
    // Two keyframes add the animation block to the parameter block.
    EXPECT_EQ(s.scene_params.size(), kParamsHeader + kAnimHeader + 2 * kKeyframeFloats);
}

TEST_F(SceneLoader, SingleKeyframeSetsCameraWithoutAnimationBlock) {
    const Scene s = load(R"({"animation": {"keyframes": [{"time": 2, "position": [7, 8, 9], "look_at": [1, 2, 3]}]}})");
    ASSERT_EQ(s.camera_keyframes.size(), 1u);
    EXPECT_EQ(s.camera_position[2], 9.0f);
    EXPECT_EQ(s.camera_look_at[1], 2.0f);
    EXPECT_EQ(s.scene_params.size(), kParamsHeader);
    EXPECT_EQ(s.scene_params[21], 0.0f);  // keyframe count slot
}

// Short or mistyped values read as zero, and mistyped settings keep their
// defaults, even over an earlier good value under the same key (the later
// member replaces it).
TEST_F(SceneLoader, ShortArraysAndWrongTypesGiveDefaults) {
    const Scene s = load(R"({"animation": {
        "duration": "5", "fps": 12, "fps": false, "loop": true, "loop": "yes",
        "keyframes": [7, {"time": "1", "position": ["a", 2], "look_at": {"x": 1}}, {"look_at": [3]}]}})");
    EXPECT_EQ(s.anim_duration, 0.0f);
    EXPECT_EQ(s.anim_fps, 30.0f);
    EXPECT_FALSE(s.anim_loop);
    ASSERT_EQ(s.camera_keyframes.size(), 3u);
    const auto values = [](const CameraKeyframe& k) {
        return std::vector<float>{k.time, k.position[0], k.position[1], k.position[2],
                                  k.look_at[0], k.look_at[1], k.look_at[2]};
    };
    EXPECT_EQ(values(s.camera_keyframes[0]), std::vector<float>(7, 0.0f));
    EXPECT_EQ(values(s.camera_keyframes[1]), (std::vector<float>{0, 0, 2, 0, 0, 0, 0}));
    EXPECT_EQ(values(s.camera_keyframes[2]), (std::vector<float>{0, 0, 0, 0, 3, 0, 0}));
}

// An animation that is not an object, a root that is not an object, and a
// byte order mark (read as the number 0) all give a prepared default scene.
TEST_F(SceneLoader, DocumentsWithoutAnAnimationObjectGiveTheDefaultScene) {
    for (const char* text : {R"({"animation": [1, 2], "keyframes": []})", "[{\"animation\": {\"fps\": 5}}]",
                             "\xEF\xBB\xBF{\"animation\": {\"fps\": 5}}"}) {
        const Scene s = load(text);
        EXPECT_EQ(out_.rfind("Loading scene: ", 0), 0u) << text;
        EXPECT_TRUE(prepared(s)) << text;
        EXPECT_EQ(s.anim_fps, 30.0f) << text;
        EXPECT_TRUE(s.camera_keyframes.empty()) << text;
    }
}

TEST_F(SceneLoader, UnreadableFilesPrintWhatFailed) {
    const std::string missing = dir_.file("missing.json");
    const struct { const char* path; std::string err; } cases[] = {
        {missing.c_str(), "Cannot open " + missing + "\nload_scene: failed to read " + missing + "\n"},
        {nullptr, "Cannot open (null)\nload_scene: failed to read (null)\n"},
    };
    for (const auto& c : cases) {
        CaptureStdout();
        CaptureStderr();
        const Scene s = load_scene(c.path, 64, 64, 1.0f);
        EXPECT_EQ(GetCapturedStderr(), c.err);
        EXPECT_EQ(GetCapturedStdout(), "");
        EXPECT_TRUE(s.scene_params.empty());
    }
    const Scene s = load("");
    EXPECT_EQ(err_, "load_scene: failed to read " + path_ + "\n");
    EXPECT_EQ(out_, "");
    EXPECT_FALSE(prepared(s));
}

TEST_F(SceneLoader, MalformedJsonThrowsTheParserError) {
    write(R"({"animation": {"fps": 24,}})");
    try {
        load_scene(path_.c_str(), 64, 64, 1.0f);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Expected '\"', got '}'");
    }
}

}  // namespace
