#pragma once

// Reading MIDI files back through midicsv (an independent reader) for the MIDI-file tests.

#include "support/TestSupport.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace rp::test {

// One midicsv record: track, tick, record type, then its fields joined by spaces with the quotes
// around texts removed (the tests' texts hold no quote or comma).
struct MidiCsvRecord {
    int track = 0;
    long long tick = 0;
    std::string type;
    std::optional<std::string> fields;
};

// The records of `path`, or an empty list with a failure when midicsv cannot read it.
inline std::vector<MidiCsvRecord> readMidiCsv(const std::filesystem::path& path)
{
    std::string text;
    const int status = runCommand("midicsv '" + path.string() + "' 2>&1", &text);
    EXPECT_EQ(status, 0) << text;
    std::vector<MidiCsvRecord> records;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        // "track, tick, Type[, field, field ...]"
        std::vector<std::string> parts;
        for (size_t start = 0;;) {
            const size_t comma = line.find(", ", start);
            parts.push_back(line.substr(start, comma - start));
            if (comma == std::string::npos)
                break;
            start = comma + 2;
        }
        const auto isNumber = [](const std::string& part) {
            return !part.empty()
                && std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
        };
        if (parts.size() < 3 || !isNumber(parts[0]) || !isNumber(parts[1]))
            continue;
        std::optional<std::string> fields;
        for (size_t i = 3; i < parts.size(); ++i) {
            std::string field = parts[i];
            std::erase(field, '"');
            fields = fields ? *fields + " " + field : field;
        }
        records.push_back({ std::stoi(parts[0]), std::stoll(parts[1]), parts[2], fields });
    }
    return records;
}

// "tick type fields" for each record, in file order, whose type starts with one of `prefixes`.
inline std::vector<std::string> recordLines(
    const std::vector<MidiCsvRecord>& all, const std::vector<std::string>& prefixes)
{
    std::vector<std::string> out;
    for (const auto& record : all) {
        if (std::any_of(
                prefixes.begin(), prefixes.end(), [&](const auto& p) { return record.type.starts_with(p); }))
            out.push_back(std::to_string(record.tick) + " " + record.type
                + (record.fields ? " " + *record.fields : ""));
    }
    return out;
}

#define RP_REQUIRE_MIDICSV()                                                                                 \
    do {                                                                                                     \
        if (!rp::test::haveTool("midicsv"))                                                                  \
            GTEST_SKIP() << "SKIPPED: midicsv is not installed, so MIDI files cannot be read back";          \
    } while (false)

} // namespace rp::test
