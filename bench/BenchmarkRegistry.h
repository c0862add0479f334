#pragma once

#include <functional>
#include <string>
#include <vector>

namespace rp::bench {

// Each benchmark lives in its own file and adds itself through a static BenchmarkRegistration.
// It prints one figure per line as `name: value unit` and returns the process exit status.
using BenchmarkFunction = std::function<int(const std::vector<std::string>& arguments)>;

struct BenchmarkEntry {
    std::string name;
    std::string description;
    BenchmarkFunction run;
};

std::vector<BenchmarkEntry>& registeredBenchmarks();

struct BenchmarkRegistration {
    BenchmarkRegistration(std::string name, std::string description, BenchmarkFunction run)
    {
        registeredBenchmarks().push_back({ std::move(name), std::move(description), std::move(run) });
    }
};

// Keeps the compiler from dropping work whose result is otherwise unused.
inline void keep(const void* pointer)
{
    asm volatile("" : : "r"(pointer) : "memory");
}

} // namespace rp::bench
