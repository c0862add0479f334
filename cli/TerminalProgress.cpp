#include "TerminalProgress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <unistd.h>

namespace rp::cli {

namespace {

volatile std::sig_atomic_t interrupted = 0;

extern "C" void setInterruptFlag(int)
{
    interrupted = 1;
}

} // namespace

bool standardOutputIsTerminal()
{
    return ::isatty(STDOUT_FILENO) == 1;
}

std::string formatPlayTime(double seconds)
{
    if (!(seconds > 0))
        seconds = 0;
    const auto tenths = static_cast<long long>(std::floor(seconds * 10));
    char text[48];
    std::snprintf(text, sizeof text, "%lld:%02lld.%lld", tenths / 600, (tenths / 10) % 60, tenths % 10);
    return text;
}

std::string progressBar(double fraction, int width)
{
    fraction = std::clamp(std::isfinite(fraction) ? fraction : 0.0, 0.0, 1.0);
    const int filled = static_cast<int>(std::lround(fraction * width));
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3d%%", static_cast<int>(std::lround(fraction * 100)));
    return "[" + std::string(static_cast<size_t>(filled), '#')
        + std::string(static_cast<size_t>(width - filled), '.') + "] " + percent;
}

StatusLine::StatusLine()
    : terminal_(standardOutputIsTerminal())
{
}

StatusLine::~StatusLine()
{
    if (terminal_ && shown_)
        std::cout << '\n' << std::flush;
}

void StatusLine::show(const std::string& text)
{
    if (!terminal_ || (shown_ && text == last_)) {
        last_ = text;
        return;
    }
    last_ = text;
    // Back to the start of the line, the text, then erase whatever an older, longer text left.
    std::cout << '\r' << text << "\x1b[K" << std::flush;
    shown_ = true;
}

void StatusLine::finish(bool keepLast)
{
    if (terminal_) {
        if (shown_)
            std::cout << '\n' << std::flush;
    } else if (keepLast && !last_.empty()) {
        std::cout << last_ << '\n' << std::flush;
    }
    shown_ = false;
    last_.clear();
}

InterruptFlag::InterruptFlag()
{
    interrupted = 0;
    struct sigaction action { };
    action.sa_handler = &setInterruptFlag;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &previousInterrupt_);
    ::sigaction(SIGTERM, &action, &previousTerminate_);
}

InterruptFlag::~InterruptFlag()
{
    ::sigaction(SIGINT, &previousInterrupt_, nullptr);
    ::sigaction(SIGTERM, &previousTerminate_, nullptr);
}

bool InterruptFlag::raised() const
{
    return interrupted != 0;
}

} // namespace rp::cli
