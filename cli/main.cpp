#include "CommandRegistry.h"

#include <algorithm>
#include <iostream>
#include <map>

namespace rp::cli {

std::vector<CommandEntry>& registeredCommands()
{
    static std::vector<CommandEntry> commands;
    return commands;
}

} // namespace rp::cli

int main(int argc, char** argv)
{
    CLI::App app{"rattlepan-cli: play, export, inspect and convert Rattlepan songs and kits"};
    app.require_subcommand(1);

    auto commands = rp::cli::registeredCommands();
    std::sort(commands.begin(), commands.end(), [](const auto& a, const auto& b) { return a.name < b.name; });

    std::map<CLI::App*, rp::cli::CommandRunner> runners;
    for (const auto& command : commands) {
        CLI::App* sub = app.add_subcommand(command.name, command.description);
        runners[sub] = command.setUp(*sub);
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }

    // Only the innermost chosen command has a runner; nested subcommands register their own.
    for (CLI::App* sub : app.get_subcommands()) {
        auto runner = runners.find(sub);
        if (runner != runners.end() && runner->second) {
            try {
                return runner->second();
            } catch (const std::exception& e) {
                std::cerr << "rattlepan-cli: " << e.what() << '\n';
                return 1;
            }
        }
    }
    return 1;
}
