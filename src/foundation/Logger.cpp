#include "foundation/Logger.h"

#include <cstdarg>
#include <cstdio>

namespace rp {

namespace {

std::mutex& sinkMutex()
{
    static std::mutex mutex;
    return mutex;
}

Logger::Sink& currentSink()
{
    static Logger::Sink sink;
    return sink;
}

} // namespace

void Logger::log(const std::string& line)
{
    std::lock_guard lock(sinkMutex());
    if (currentSink()) {
        currentSink()(line);
    } else {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
}

Logger::Sink Logger::setSink(Sink sink)
{
    std::lock_guard lock(sinkMutex());
    Sink previous = std::move(currentSink());
    currentSink() = std::move(sink);
    return previous;
}

void logf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string line;
    if (length > 0) {
        line.resize(static_cast<size_t>(length));
        std::vsnprintf(line.data(), line.size() + 1, format, args);
    }
    va_end(args);
    Logger::log(line);
}

LogCapture::LogCapture()
{
    // The sink runs under Logger's own mutex, so only our vector needs guarding.
    previous_ = Logger::setSink([this](const std::string& line) {
        std::lock_guard lock(mutex_);
        lines_.push_back(line);
    });
}

LogCapture::~LogCapture() { Logger::setSink(std::move(previous_)); }

std::vector<std::string> LogCapture::lines() const
{
    std::lock_guard lock(mutex_);
    return lines_;
}

bool LogCapture::contains(std::string_view fragment) const
{
    std::lock_guard lock(mutex_);
    for (const auto& line : lines_) {
        if (line.find(fragment) != std::string::npos) {
            return true;
        }
    }
    return false;
}

void LogCapture::clear()
{
    std::lock_guard lock(mutex_);
    lines_.clear();
}

} // namespace rp
