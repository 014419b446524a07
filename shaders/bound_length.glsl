// BOUND_LENGTH(a): the element count of the bound array `a`. A program
// that declares `a` as a plain storage buffer gets a.length(); the
// renderer's resource files read their arrays through buffer references,
// which have no length, and define it first (scene_resources.glsl).
#ifndef BOUND_LENGTH
#define BOUND_LENGTH(a) a.length()
#endif
