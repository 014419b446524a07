// `vitrel render` and `--list-gpus`: everything between parsed options and
// written images, on the public call interface.
#pragma once

#include "cli/render_options.h"

// Exit status of the program.
enum ExitCode { kExitOk = 0, kExitFailure = 1, kExitUsage = 2 };

// Renders as the options say; errors are printed to standard error as one
// line naming the file or GPU and the reason.
int run_render(const RenderOptions& options);

// Prints "<index>: <name>" per ray-tracing GPU; kExitFailure when none.
int list_gpus();
