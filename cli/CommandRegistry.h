#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

namespace rp::cli {

// Each subcommand lives in its own file and adds itself here through a static
// CommandRegistration, so commands can be added without touching main.cpp.
// `setUp` declares the subcommand's options on `app` and returns the function
// that runs it; that function returns the process exit status.
using CommandRunner = std::function<int()>;
using CommandSetUp = std::function<CommandRunner(CLI::App& app)>;

struct CommandEntry {
    std::string name;
    std::string description;
    CommandSetUp setUp;
};

std::vector<CommandEntry>& registeredCommands();

struct CommandRegistration {
    CommandRegistration(std::string name, std::string description, CommandSetUp setUp)
    {
        registeredCommands().push_back({std::move(name), std::move(description), std::move(setUp)});
    }
};

} // namespace rp::cli
