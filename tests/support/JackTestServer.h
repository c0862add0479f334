#pragma once

#include "support/TestSupport.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <jack/jack.h>
#include <spawn.h>
#include <string>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace rp::test {

// A private JACK server with the dummy driver for one test: `jackd -n NAME -d dummy`, with
// JACK_DEFAULT_SERVER set so that this process and its children use it. Stopped (with every
// helper client started through it) on destruction.
//
// JACK names a client's notification socket after the client alone, not after its server, so two
// clients of the same name (RtAudio's probes, "rattlepan") on two servers at once take each other's
// socket. Test processes therefore hold one machine-wide lock while they have a server.
class JackTestServer {
public:
    static constexpr int kSampleRate = 48000;

    JackTestServer()
    {
        static std::atomic<int> counter { 0 };
        const auto lockPath = std::filesystem::temp_directory_path() / "rattlepan-jack-tests.lock";
        lock_ = ::open(lockPath.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0666);
        while (lock_ >= 0 && flock(lock_, LOCK_EX) != 0 && errno == EINTR) {
        }
        name_ = "rptest-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
        setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
        if (!haveTool("jackd")) {
            return;
        }
        server_ = spawn(
            { "jackd", "-n", name_, "-d", "dummy", "-r", std::to_string(kSampleRate), "-p", "256" }, "");
        for (int attempt = 0; attempt < 200 && server_ > 0; ++attempt) {
            if (hasPlaybackPorts()) {
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
        if (lock_ >= 0) {
            ::close(lock_); // releases the lock
        }
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
    // jackd takes clients before its driver has registered the system ports; a client that comes
    // that early finds no playback device. Ready means a client connects and sees them.
    static bool hasPlaybackPorts()
    {
        jack_client_t* client = jack_client_open("rptest-probe", JackNoStartServer, nullptr);
        if (client == nullptr) {
            return false;
        }
        const char** ports = jack_get_ports(client, "^system:playback_", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput);
        const bool found = ports != nullptr && ports[0] != nullptr;
        jack_free(ports);
        jack_client_close(client);
        return found;
    }

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

    int lock_ = -1;
    std::string name_;
    pid_t server_ = -1;
    bool ready_ = false;
    std::vector<pid_t> children_;
};

} // namespace rp::test
