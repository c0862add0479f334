#pragma once

// Reading MIDI files back through midicsv (an independent reader) for the MIDI-file tests.

#include "support/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace rp::test {

// One midicsv record: track, tick, record type, then the fields as text (quotes removed).
struct MidiCsvRecord {
    int track = 0;
    long long tick = 0;
    std::string type;
    std::vector<std::string> fields;

    long long number(size_t i) const { return i < fields.size() ? std::stoll(fields[i]) : -1; }
};

// The records of `path`, or an empty list with a failure when midicsv cannot read it.
inline std::vector<MidiCsvRecord> readMidiCsv(const std::filesystem::path& path)
{
    std::vector<MidiCsvRecord> records;
    std::string text;
    const int status = runCommand("midicsv '" + path.string() + "' 2>&1", &text);
    EXPECT_EQ(status, 0) << text;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> parts;
        std::string part;
        bool quoted = false;
        for (size_t i = 0; i < line.size(); ++i) {
            const char c = line[i];
            if (c == '"') {
                if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                    part.push_back('"');
                    ++i;
                } else {
                    quoted = !quoted;
                }
            } else if (c == ',' && !quoted) {
                parts.push_back(part);
                part.clear();
                if (i + 1 < line.size() && line[i + 1] == ' ')
                    ++i;
            } else {
                part.push_back(c);
            }
        }
        parts.push_back(part);
        if (parts.size() < 3)
            continue;
        MidiCsvRecord record;
        record.track = std::stoi(parts[0]);
        record.tick = std::stoll(parts[1]);
        record.type = parts[2];
        record.fields.assign(parts.begin() + 3, parts.end());
        records.push_back(std::move(record));
    }
    return records;
}

inline std::vector<MidiCsvRecord> recordsOfType(
    const std::vector<MidiCsvRecord>& all, const std::string& type)
{
    std::vector<MidiCsvRecord> out;
    for (const auto& record : all) {
        if (record.type == type)
            out.push_back(record);
    }
    return out;
}

#define RP_REQUIRE_MIDICSV()                                                                                 \
    do {                                                                                                     \
        if (!rp::test::haveTool("midicsv"))                                                                  \
            GTEST_SKIP() << "SKIPPED: midicsv is not installed, so MIDI files cannot be read back";          \
    } while (false)

} // namespace rp::test
