#include "BenchmarkRegistry.h"

#include <algorithm>
#include <iostream>

namespace rp::bench {

std::vector<BenchmarkEntry>& registeredBenchmarks()
{
    static std::vector<BenchmarkEntry> benchmarks;
    return benchmarks;
}

} // namespace rp::bench

int main(int argc, char** argv)
{
    auto benchmarks = rp::bench::registeredBenchmarks();
    std::sort(
        benchmarks.begin(), benchmarks.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    const std::string wanted = argc > 1 ? argv[1] : "";
    for (const auto& benchmark : benchmarks) {
        if (benchmark.name == wanted) {
            return benchmark.run(std::vector<std::string>(argv + 2, argv + argc));
        }
    }
    std::cerr << "usage: rattlepan-bench BENCHMARK [arguments]\nbenchmarks:\n";
    for (const auto& benchmark : benchmarks) {
        std::cerr << "  " << benchmark.name << "  " << benchmark.description << '\n';
    }
    return wanted.empty() || wanted == "--help" ? 0 : 2;
}
