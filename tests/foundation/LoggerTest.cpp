#include "foundation/Logger.h"

#include <gtest/gtest.h>
#include <thread>
#include <vector>

TEST(Logger, CaptureFormatsLinesAndRestoresThePreviousSink)
{
    std::vector<std::string> outer;
    rp::Logger::setSink([&](const std::string& line) { outer.push_back(line); });
    {
        rp::LogCapture capture;
        rp::logf("OAOutput: error %d trying to fetch output sample rate", -50);
        EXPECT_EQ(capture.lines(),
            std::vector<std::string> { "OAOutput: error -50 trying to fetch output sample rate" });
    }
    rp::logf("after %s", "capture");
    rp::Logger::setSink({});
    EXPECT_EQ(outer, std::vector<std::string> { "after capture" });
}

TEST(LoggerThreads, ConcurrentLinesAreNeitherLostNorTorn)
{
    rp::LogCapture capture;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i)
                rp::logf("thread %d line %d", t, i);
        });
    for (auto& thread : threads)
        thread.join();
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 800u);
    for (const auto& line : lines)
        EXPECT_EQ(line.rfind("thread ", 0), 0u) << line;
}
