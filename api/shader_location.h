// Where a new context looks for the compiled shader programs.
#pragma once

#include <string>

// The installed shader directory next to this library (the data directory
// of the prefix it was installed into) when it holds the programs, else the
// directory compiled in at build time (the build tree's shader folder).
std::string default_shader_dir();
