// load_scene: reading the camera animation from JSON scene files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>

#include "comma_locale.h"
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
    void SetUp() override {
        char tmpl[] = "/tmp/vitrel-loader-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        path_ = dir_ + "/scene.json";
    }
    void TearDown() override {
        std::remove(path_.c_str());
        rmdir(dir_.c_str());
    }
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

    std::string dir_, path_, out_, err_;
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

TEST_F(SceneLoader, DecimalCommaLocaleReadsDecimalPoints) {
    CommaLocale comma;
    SKIP_WITHOUT_COMMA_LOCALE(comma);
    const Scene s = load(R"({"animation": {"duration": 2.5, "fps": 12.5}})");
    EXPECT_EQ(err_, "");
    EXPECT_EQ(s.anim_duration, 2.5f);
    EXPECT_EQ(s.anim_fps, 12.5f);
}

TEST_F(SceneLoader, SingleKeyframeSetsCameraWithoutAnimationBlock) {
    const Scene s = load(R"({"animation": {"keyframes": [{"time": 2, "position": [7, 8, 9], "look_at": [1, 2, 3]}]}})");
    ASSERT_EQ(s.camera_keyframes.size(), 1u);
    EXPECT_EQ(s.camera_position[0], 7.0f);
    EXPECT_EQ(s.camera_position[2], 9.0f);
    EXPECT_EQ(s.camera_look_at[1], 2.0f);
    EXPECT_EQ(s.scene_params.size(), kParamsHeader);
    EXPECT_EQ(s.scene_params[21], 0.0f);  // keyframe count slot
}

TEST_F(SceneLoader, TwoElementPositionGivesZeroZ) {
    const Scene s = load(R"({"animation": {"keyframes": [{"position": [1, 2], "look_at": [3]}]}})");
    ASSERT_EQ(s.camera_keyframes.size(), 1u);
    EXPECT_EQ(s.camera_keyframes[0].position[0], 1.0f);
    EXPECT_EQ(s.camera_keyframes[0].position[1], 2.0f);
    EXPECT_EQ(s.camera_keyframes[0].position[2], 0.0f);
    EXPECT_EQ(s.camera_keyframes[0].look_at[0], 3.0f);
    EXPECT_EQ(s.camera_keyframes[0].look_at[1], 0.0f);
}

TEST_F(SceneLoader, WrongTypesGiveDefaults) {
    const Scene s = load(R"({"animation": {
        "duration": "5", "fps": "60", "loop": 1,
        "keyframes": [7, {"time": "1", "position": ["a", 2, null], "look_at": {"x": 1}}]}})");
    EXPECT_EQ(s.anim_duration, 0.0f);
    EXPECT_EQ(s.anim_fps, 30.0f);
    EXPECT_FALSE(s.anim_loop);
    ASSERT_EQ(s.camera_keyframes.size(), 2u);
    const CameraKeyframe& a = s.camera_keyframes[0];
    EXPECT_EQ(a.time, 0.0f);
    EXPECT_EQ(a.position[0], 0.0f);
    EXPECT_EQ(a.look_at[2], 0.0f);
    const CameraKeyframe& b = s.camera_keyframes[1];
    EXPECT_EQ(b.time, 0.0f);
    EXPECT_EQ(b.position[0], 0.0f);
    EXPECT_EQ(b.position[1], 2.0f);
    EXPECT_EQ(b.position[2], 0.0f);
    EXPECT_EQ(b.look_at[0], 0.0f);
}

TEST_F(SceneLoader, PresentNonNumberResetsEarlierFps) {
    // A present fps of the wrong type gives 30 even though a number was
    // read before under the same key (the later member replaces it).
    const Scene s = load(R"({"animation": {"fps": 12, "fps": false, "loop": true, "loop": "yes"}})");
    EXPECT_EQ(s.anim_fps, 30.0f);
    EXPECT_FALSE(s.anim_loop);
}

TEST_F(SceneLoader, AnimationOfWrongTypeIsIgnored) {
    const Scene s = load(R"({"animation": [1, 2], "keyframes": []})");
    EXPECT_TRUE(prepared(s));
    EXPECT_TRUE(s.camera_keyframes.empty());
    const Scene t = load("[{\"animation\": {\"fps\": 5}}]");  // the root is not an object
    EXPECT_EQ(t.anim_fps, 30.0f);
    EXPECT_TRUE(prepared(t));
}

TEST_F(SceneLoader, ByteOrderMarkGivesPreparedDefaultScene) {
    const Scene s = load("\xEF\xBB\xBF{\"animation\": {\"fps\": 5}}");
    EXPECT_EQ(out_.rfind("Loading scene: ", 0), 0u);
    EXPECT_EQ(s.anim_fps, 30.0f);
    EXPECT_TRUE(prepared(s));
}

TEST_F(SceneLoader, UnopenableFilePrintsBothLines) {
    const std::string missing = dir_ + "/missing.json";
    CaptureStdout();
    CaptureStderr();
    const Scene s = load_scene(missing.c_str(), 64, 64, 1.0f);
    EXPECT_EQ(GetCapturedStderr(),
              "Cannot open " + missing + "\nload_scene: failed to read " + missing + "\n");
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_FALSE(prepared(s));
    EXPECT_TRUE(s.scene_params.empty());
}

TEST_F(SceneLoader, NullPathIsAnUnopenableFile) {
    CaptureStderr();
    const Scene s = load_scene(nullptr, 64, 64, 1.0f);
    EXPECT_EQ(GetCapturedStderr(), "Cannot open (null)\nload_scene: failed to read (null)\n");
    EXPECT_FALSE(prepared(s));
}

TEST_F(SceneLoader, EmptyFilePrintsOnlyTheReadFailure) {
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
