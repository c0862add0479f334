#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace rp {

// One line per engine failure, in the words the program has always used for it.
// Lines go to standard error unless a sink is installed (tests capture them).
// Never call from the audio device callback: formatting and the sink may allocate.
class Logger {
public:
    using Sink = std::function<void(const std::string& line)>;

    static void log(const std::string& line);

    // Replaces the sink; an empty sink restores standard error. Returns the previous one.
    static Sink setSink(Sink sink);
};

// printf-style logging: rp::logf("OAOutput: error %d trying to fetch output sample rate", status).
void logf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Collects every logged line for as long as it lives; restores the previous sink afterwards.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const;
    bool contains(std::string_view fragment) const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    Logger::Sink previous_;
};

} // namespace rp
