// vitrel: renders scene files with libvitrel_api from the command line.
#include <cstdio>
#include <string>

#include <CLI/CLI.hpp>

#include "cli/render_command.h"
#include "cli/render_options.h"

int main(int argc, char** argv) {
    CLI::App app{"Vitrel path tracer. `vitrel render -o out.png` renders the built-in Cornell box."};
    app.require_subcommand(0, 1);
    // One line per mistake, as every other failure of the program.
    app.failure_message([](const CLI::App*, const CLI::Error& e) {
        return std::string("vitrel: ") + e.what() + " (see vitrel render --help)\n";
    });
    bool list = false;
    app.add_flag("--list-gpus", list, "List the ray-tracing GPUs and exit");
    CLI::App* render = app.add_subcommand("render", "Render a scene to an image");
    RenderOptions options;
    add_render_options(*render, options);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? kExitOk : kExitUsage;
    }
    if (list) return list_gpus();
    if (!render->parsed()) {
        std::fprintf(stderr, "%s", app.help().c_str());
        return kExitUsage;
    }
    const std::string problem = validate_render_options(options);
    if (!problem.empty()) {
        std::fprintf(stderr, "vitrel: %s\n", problem.c_str());
        return kExitUsage;
    }
    return run_render(options);
}
