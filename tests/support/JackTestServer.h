#pragma once

#include "midi/JackMIDIBackend.h"
#include "support/TestSupport.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace rp::test {

// A private JACK server with the dummy driver for one test: `jackd -n NAME -d dummy`, with
// JACK_DEFAULT_SERVER set so that this process and its children use it. Stopped (with every
// helper client started through it) on destruction.
class JackTestServer {
public:
    static constexpr int kSampleRate = 48000;

    JackTestServer()
    {
        static std::atomic<int> counter { 0 };
        name_ = "rptest-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
        setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
        if (!haveTool("jackd")) {
            return;
        }
        server_ = spawn(
            { "jackd", "-n", name_, "-d", "dummy", "-r", std::to_string(kSampleRate), "-p", "256" }, "");
        for (int attempt = 0; attempt < 200 && server_ > 0; ++attempt) {
            if (JackMIDIBackend::open("rptest-probe")) {
                ready_ = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    ~JackTestServer()
    {
        for (auto it = children_.rbegin(); it != children_.rend(); ++it) {
            stop(*it);
        }
        if (server_ > 0) {
            stop(server_);
        }
        unsetenv("JACK_DEFAULT_SERVER");
    }
    JackTestServer(const JackTestServer&) = delete;
    JackTestServer& operator=(const JackTestServer&) = delete;

    bool ready() const { return ready_; }
    const std::string& name() const { return name_; }

    // Starts a helper client; its standard output goes to `outputFile` (or nowhere).
    pid_t start(const std::vector<std::string>& arguments, const std::string& outputFile = "")
    {
        const pid_t pid = spawn(arguments, outputFile);
        if (pid > 0) {
            children_.push_back(pid);
        }
        return pid;
    }

    static void stop(pid_t pid)
    {
        if (pid <= 0 || kill(pid, SIGTERM) != 0) {
            return;
        }
        for (int i = 0; i < 100; ++i) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    void forget(pid_t pid) { std::erase(children_, pid); }

private:
    static pid_t spawn(const std::vector<std::string>& arguments, const std::string& outputFile)
    {
        std::vector<char*> argv;
        for (const auto& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO,
            outputFile.empty() ? "/dev/null" : outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        pid_t pid = 0;
        const int status = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        return status == 0 ? pid : -1;
    }

    std::string name_;
    pid_t server_ = -1;
    bool ready_ = false;
    std::vector<pid_t> children_;
};

} // namespace rp::test
