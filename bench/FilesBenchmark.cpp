// rattlepan-bench files: saves and opens a 10,000-bar song of 16 events a bar, against a plain copy
// of the file's bytes as the baseline.

#include "BenchmarkRegistry.h"
#include "foundation/Error.h"
#include "model/ORPSong.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace {

double millisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

int runFiles(const std::vector<std::string>&)
{
    constexpr int kBars = 10000;
    constexpr int kEventsPerBar = 16;
    ORPSong::setDefaultKitProvider({});
    auto song = ORPSong::song();
    std::vector<ORPDrumPtr> drums;
    for (const char* type : { "kick", "snare", "hi hat", "tom" }) {
        auto drum = ORPDrum::drum();
        drum->setTypeName(type);
        drums.push_back(drum);
    }
    auto section = song->sectionList()[0];
    std::vector<ORPPatternPtr> bars;
    for (int bar = 1; bar < kBars; ++bar) {
        bars.push_back(ORPPattern::pattern());
    }
    section->insertPatterns(bars, 1);
    for (const auto& pattern : section->patterns()) {
        for (int i = 0; i < kEventsPerBar; ++i) {
            pattern->addEventWithDrum(drums[static_cast<size_t>(i) % drums.size()], 0.5f + 0.03f * (i % 7),
                static_cast<float>(i) / kEventsPerBar);
        }
    }

    char folder[] = "/tmp/rattlepan-bench-XXXXXX";
    if (!mkdtemp(folder)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::filesystem::path path = std::filesystem::path(folder) / "bench.rpsong";

    auto start = std::chrono::steady_clock::now();
    rp::Error error;
    if (!song->writeToFile(path, &error)) {
        std::fprintf(stderr, "save failed: %s\n", error.text().c_str());
        return 1;
    }
    double saveMs = millisecondsSince(start);

    start = std::chrono::steady_clock::now();
    auto opened = ORPSong::songFromURL(path, &error);
    double openMs = millisecondsSince(start);
    if (!opened || opened->totalBars() != static_cast<uint32_t>(kBars)) {
        std::fprintf(stderr, "open failed: %s\n", error.text().c_str());
        return 1;
    }
    const auto bytes = std::filesystem::file_size(path);

    // Baseline: copying as many bytes as the uncompressed events take in memory.
    std::vector<char> from(static_cast<size_t>(kBars) * kEventsPerBar * 64, 1);
    std::vector<char> to(from.size());
    start = std::chrono::steady_clock::now();
    std::memcpy(to.data(), from.data(), from.size());
    rp::bench::keep(to.data());
    double copyMs = millisecondsSince(start);

    std::filesystem::remove_all(folder);
    std::printf("song.save_ms: %.1f ms\n", saveMs);
    std::printf("song.open_ms: %.1f ms\n", openMs);
    std::printf("song.bytes: %ju bytes\n", static_cast<uintmax_t>(bytes));
    std::printf("baseline.memcpy_ms: %.3f ms\n", copyMs);
    std::printf("song.open_ratio: %.1f\n", copyMs > 0 ? openMs / copyMs : 0.0);
    return 0;
}

const rp::bench::BenchmarkRegistration registration(
    "files", "saves and opens a 10,000-bar song of 16 events a bar, against a memory copy", runFiles);

} // namespace
