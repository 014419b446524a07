// Loading a scene description from a JSON file.
#pragma once

#include "scene/vitrel_export.h"
#include "scene/scene.h"

// Reads the JSON scene file at `path` and returns a prepared Scene. Only the
// camera animation is read, from the root member "animation":
//   "duration" (number, seconds), "fps" (number), "loop" (boolean) and
//   "keyframes": [{"time": t, "position": [x, y, z], "look_at": [x, y, z]}].
// Values of the wrong type fall back to defaults (duration 0, fps 30, loop
// false, keyframe fields 0); other keys are ignored. The first keyframe also
// places the camera. Everything else keeps its default, and the scene is
// prepared with build_scene_buffer(scene, width, height, overscan_scale).
//
// A file that cannot be opened or is empty prints "Cannot open <path>"
// (unopenable only) and "load_scene: failed to read <path>" to standard
// error and returns an unprepared default scene. Malformed JSON throws the
// parser's std::runtime_error ("Expected 'x', got 'y'"). Prints "Loading
// scene: <path>" to standard output once the file is parsed.
VITREL_EXPORT Scene load_scene(const char* path, int width, int height, float overscan_scale);
