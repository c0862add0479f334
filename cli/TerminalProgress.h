#pragma once

// Terminal output of the long-running commands: a status line rewritten in place while standard
// output is a terminal, a progress bar, and Ctrl-C turned into a flag the main loop polls.

#include <csignal>
#include <string>

namespace rp::cli {

bool standardOutputIsTerminal();

// "1:05.3": minutes, seconds and tenths.
std::string formatPlayTime(double seconds);
// "[#####.....]  50%" with `width` cells.
std::string progressBar(double fraction, int width = 30);

// One line of status rewritten in place on a terminal; elsewhere nothing is written until
// finish(), which prints the last text as a plain line (when asked to).
class StatusLine {
public:
    StatusLine();
    ~StatusLine();
    StatusLine(const StatusLine&) = delete;
    StatusLine& operator=(const StatusLine&) = delete;

    bool isTerminal() const { return terminal_; }
    void show(const std::string& text);
    // Ends the line; `keepLast` prints the last text on a non-terminal too.
    void finish(bool keepLast);

private:
    bool terminal_;
    bool shown_ = false;
    std::string last_;
};

// While it lives, SIGINT and SIGTERM only set a flag (the handler does nothing else); the previous
// handlers come back afterwards.
class InterruptFlag {
public:
    InterruptFlag();
    ~InterruptFlag();
    InterruptFlag(const InterruptFlag&) = delete;
    InterruptFlag& operator=(const InterruptFlag&) = delete;

    bool raised() const;

private:
    struct sigaction previousInterrupt_ { };
    struct sigaction previousTerminate_ { };
};

} // namespace rp::cli
