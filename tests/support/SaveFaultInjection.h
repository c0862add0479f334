#pragma once

// Kills a saving process at random moments: a forked child saves over and over, the parent sends
// it SIGKILL after a random delay and then checks what is left on disk.

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace rp::test {

// Runs `rounds` rounds. In each, a child process runs `saveForever` (which saves until a save
// fails and then returns, ending the child with status 1) and is killed after a delay drawn
// uniformly from [0, maxDelay) by a generator seeded with `seed`; `check(round)` then runs here.
// Stops at the first fatal failure.
inline void killWhileSaving(uint32_t seed, int rounds, std::chrono::microseconds maxDelay,
    const std::function<void()>& saveForever, const std::function<void(int)>& check)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int64_t> delay(0, std::max<int64_t>(1, maxDelay.count()) - 1);
    for (int round = 0; round < rounds; ++round) {
        const auto wait = std::chrono::microseconds(delay(random));
        // The delay counts from when the child runs, not from the fork, which can be slow.
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0) << "fork failed";
        if (child == 0) {
            ::close(ready[0]);
            const char byte = 1;
            if (::write(ready[1], &byte, 1) != 1)
                ::_exit(2);
            saveForever();
            ::_exit(1);
        }
        ::close(ready[1]);
        char byte = 0;
        const ssize_t got = ::read(ready[0], &byte, 1);
        ::close(ready[0]);
        std::this_thread::sleep_for(wait);
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_EQ(got, 1) << "round " << round << ": the child did not start";
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
            << "round " << round << ": the saving child stopped by itself (a save failed)";
        check(round);
        if (::testing::Test::HasFatalFailure())
            return;
    }
}

// How long one call of `work` takes, the fastest of three.
inline std::chrono::microseconds fastestOfThree(const std::function<void()>& work)
{
    auto best = std::chrono::microseconds::max();
    for (int i = 0; i < 3; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        best = std::min(best,
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start));
    }
    return best;
}

// The names in a folder other than `keep`, sorted.
inline std::vector<std::string> otherEntries(const std::filesystem::path& folder, const std::string& keep)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name != keep)
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace rp::test
