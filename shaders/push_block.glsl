// The push block every program of the renderer sees (layout in gpu_layout.h).
#ifndef VITREL_PUSH_BLOCK_GLSL
#define VITREL_PUSH_BLOCK_GLSL

#include "gpu_layout.h"

layout(push_constant, std430) uniform PushConstants { PushBlock pc; };

#endif
