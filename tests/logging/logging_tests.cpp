#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "../unique_temp_dir.h"
#include "kp_platform.h"
#include "logging.h"

namespace {

// Collects what reaches the debugger channel, one entry per call.
class DebugCapture {
public:
    DebugCapture() {
        kp::setDebugOutputCapture([this](const char* text) {
            std::lock_guard<std::mutex> g(lock_);
            lines_.emplace_back(text);
        });
    }
    ~DebugCapture() { kp::setDebugOutputCapture(nullptr); }
    std::vector<std::string> lines() {
        std::lock_guard<std::mutex> g(lock_);
        return lines_;
    }

private:
    std::mutex lock_;
    std::vector<std::string> lines_;
};

class SlowSink : public kpes::log_sink {
public:
    explicit SlowSink(int delay_ms) : delay_ms_(delay_ms) {}
    long write(const char* data, size_t size) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms_));
        received += std::string(data, size);
        return static_cast<long>(size);
    }
    std::string received;

private:
    int delay_ms_;
};

// Takes at most three bytes per call, so a line needs several writes.
class TrickleSink : public kpes::log_sink {
public:
    long write(const char* data, size_t size) override {
        ++calls;
        size_t n = size < 3 ? size : 3;
        received.append(data, n);
        return static_cast<long>(n);
    }
    std::string received;
    int calls = 0;
};

}  // namespace

TEST(LogLine, FormatFollowsSeverity) {
    DebugCapture capture;
    testing::internal::CaptureStderr();
    kpes::log_line("factory/database/database.cpp", 140, kpes::LS_ERROR) << "worksheet is empty : ";
    kpes::log_line("factory/database/database.cpp", 140, kpes::LS_INFO) << "worksheet is empty : ";
    kpes::log_line("x.cc", 7, kpes::LS_WARNING) << "n=" << 42 << " " << std::string("s") << " " << -5;
    std::string err = testing::internal::GetCapturedStderr();

    auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "(database.cpp:140): worksheet is empty : \n");
    EXPECT_EQ(lines[1], "worksheet is empty : \n");
    EXPECT_EQ(lines[2], "(x.cc:7): n=42 s -5\n");
    EXPECT_EQ(err, lines[0] + lines[1] + lines[2]);
}

TEST(LogLine, BaseNameOfSourcePaths) {
    EXPECT_STREQ(kpes::source_base_name("logging.cc"), "logging.cc");
    EXPECT_STREQ(kpes::source_base_name("a/b\\c.cpp"), "c.cpp");
    EXPECT_STREQ(kpes::source_base_name("a\\b/c.cpp"), "c.cpp");
    EXPECT_STREQ(kpes::source_base_name("C:\\src\\sdkbase.cpp"), "sdkbase.cpp");
    EXPECT_STREQ(kpes::source_base_name("dir/"), "");
}

TEST(LogLine, StatementWithoutPartsStillEmitsALine) {
    DebugCapture capture;
    testing::internal::CaptureStderr();
    { kpes::log_line("m.cc", 3, kpes::LS_INFO); }
    { kpes::log_line("m.cc", 3, kpes::LS_ERROR); }
    testing::internal::GetCapturedStderr();
    auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "\n");
    EXPECT_EQ(lines[1], "(m.cc:3): \n");
}

TEST(LogStatement, BelowMinimumSeverityBuildsNothing) {
    DebugCapture capture;
    int evaluated = 0;
    auto part = [&] {
        ++evaluated;
        return "x";
    };
    kpes::set_min_severity(3);
    testing::internal::CaptureStderr();
    KPES_LOG(kpes::LS_INFO) << part();
    KPES_LOG(kpes::LS_ERROR) << part();
    testing::internal::GetCapturedStderr();
    kpes::set_min_severity(0);
    EXPECT_EQ(evaluated, 1);
    ASSERT_EQ(capture.lines().size(), 1u);
    EXPECT_NE(capture.lines()[0].find("logging_tests.cpp:"), std::string::npos);
}

TEST(LogStatement, LinesFromManyThreadsNeverSplit) {
    DebugCapture capture;
    testing::internal::CaptureStderr();
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i)
                KPES_LOG(kpes::LS_ERROR)
                    << "thread " << t << " line " << i << " " << std::string(100, 'a' + t);
        });
    }
    for (auto& t : threads) t.join();
    std::string err = testing::internal::GetCapturedStderr();

    std::set<std::string> distinct;
    size_t count = 0, start = 0;
    for (size_t nl; (nl = err.find('\n', start)) != std::string::npos; start = nl + 1) {
        std::string line = err.substr(start, nl - start);
        ++count;
        ASSERT_EQ(line.rfind("(logging_tests.cpp:", 0), 0u) << line;
        char c = line.back();
        ASSERT_EQ(line.substr(line.size() - 100), std::string(100, c)) << line;
        distinct.insert(line);
    }
    EXPECT_EQ(count, 1600u);
    EXPECT_EQ(distinct.size(), 1600u);
    EXPECT_EQ(capture.lines().size(), 1600u);
}

TEST(Sinks, SlowDeliveryGivesOneNoticeAndNoNoticeOfTheNotice) {
    SlowSink sink(60);
    kpes::add_log_sink(&sink, kpes::LS_ERROR);
    DebugCapture capture;
    testing::internal::CaptureStderr();
    KPES_LOG(kpes::LS_ERROR) << "slow";
    testing::internal::GetCapturedStderr();
    kpes::remove_log_sink(&sink);

    auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("slow"), std::string::npos);
    EXPECT_EQ(lines[1].rfind("(logging.cc:217): Slow log: took ", 0), 0u) << lines[1];
    const std::string tail = "ms to write " + std::to_string(lines[0].size()) + " bytes.\n";
    EXPECT_EQ(lines[1].substr(lines[1].size() - tail.size()), tail);
    // The notice itself is severity 3, below the sink's minimum: the sink saw one line only.
    EXPECT_EQ(sink.received, lines[0]);
}

TEST(Sinks, FastDeliveryGivesNoNoticeAndPartialWritesAreRetried) {
    TrickleSink sink;
    kpes::add_log_sink(&sink, kpes::LS_INFO);
    DebugCapture capture;
    testing::internal::CaptureStderr();
    KPES_LOG(kpes::LS_INFO) << "0123456789";
    KPES_LOG(kpes::LS_VERBOSE) << "too fine for the sink";
    testing::internal::GetCapturedStderr();
    kpes::remove_log_sink(&sink);
    EXPECT_EQ(capture.lines().size(), 2u);
    EXPECT_EQ(sink.received, "0123456789\n");
    EXPECT_EQ(sink.calls, 4);
}

TEST(Clock, WrapExtendsTo64Bits) {
    kpes::wrap_clock clock;
    EXPECT_EQ(clock.extend(0xFFFFFFF0u), 0xFFFFFFF0ull);
    EXPECT_EQ(clock.extend(0x00000010u), 0x100000010ull);
    EXPECT_EQ(clock.extend(0x00000020u), 0x100000020ull);
    // A backwards step that is not near the ends is no wrap.
    EXPECT_EQ(clock.extend(0x00000005u), 0x100000005ull);
    EXPECT_EQ(clock.extend(0x80000000u), 0x180000000ull);
    EXPECT_EQ(clock.extend(0x70000000u), 0x170000000ull);
}

TEST(Clock, ProcessClockFollowsTimeGetTimeAcrossTheWrap) {
    kp::setTimeGetTimeOffset(0);
    kp::setTimeGetTimeOffset(0u - timeGetTime() - 100u);
    uint64_t before = kpes::clock_ms();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    uint64_t after = kpes::clock_ms();
    kp::setTimeGetTimeOffset(0);
    EXPECT_GE(after, before + 190);
    EXPECT_LT(after - before, uint64_t{1} << 31) << "the wrap is counted exactly once";
}

TEST(DbgTrace, ReturnsZeroAndWritesNothing) {
    DebugCapture capture;
    testing::internal::CaptureStderr();
    EXPECT_EQ(
        DbgTrace(2001, 3, __FILE__, __LINE__, "ASSERT (sdk_handle_ == NULL) is true, then return false"), 0);
    EXPECT_EQ(DbgTrace(0, 0, nullptr, 0, "%s %d"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(capture.lines().empty());
}

// A detached worker may still log while the process exits and destroys its static objects; the
// facility must stay usable until the process is gone. Each round is a child process.
TEST(LogAtExit, WorkerLoggingWhileMainReturnsDoesNotCrash) {
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    for (int round = 0; round < 10; ++round) {
        EXPECT_EXIT(
            {
                std::thread([] {
                    for (;;) KPES_LOG(kpes::LS_ERROR) << "worker still logging";
                }).detach();
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                std::exit(0);  // what returning from main does
            },
            ::testing::ExitedWithCode(0), "")
            << "round " << round;
    }
}

namespace {

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool exists(const std::string& path) { return std::filesystem::exists(path); }

}  // namespace

TEST(RotatingFileSink, WritesDatedFilesInAFolderItMakesAndAppendsAcrossRuns) {
    const std::string dir = MakeUniqueTempDir("kp_log_");
    ASSERT_FALSE(dir.empty());
    {
        const std::string folder = dir + "/log_data";
        {
            kpes::rotating_file_sink sink(folder, 1000, 7);
            sink.set_date(20261208);
            EXPECT_EQ(sink.write("first\n", 6), 6);
            EXPECT_EQ(sink.current_path(), folder + "/20261208.log");
        }
        // A later run the same day continues the file; the next day starts its own.
        kpes::rotating_file_sink sink(folder, 1000, 7);
        sink.set_date(20261208);
        EXPECT_EQ(sink.write("second\n", 7), 7);
        EXPECT_EQ(readAll(folder + "/20261208.log"), "first\nsecond\n");
        sink.set_date(20261209);
        EXPECT_EQ(sink.write("third\n", 6), 6);
        EXPECT_EQ(readAll(folder + "/20261209.log"), "third\n");
        EXPECT_EQ(readAll(folder + "/20261208.log"), "first\nsecond\n");
    }
    // Every sink is closed first: Windows refuses to remove a file that is open.
    std::filesystem::remove_all(dir);
}

TEST(RotatingFileSink, StaysWithinItsBoundsBySizeAndByDays) {
    const std::string dir = MakeUniqueTempDir("kp_log_");
    ASSERT_FALSE(dir.empty());
    {
        // Files of earlier runs: within the kept days, just before them, and across a month and a
        // year boundary.
        std::filesystem::create_directories(dir);
        for (const char* name :
             {"20261206.log", "20261205.log.1", "20261204.log", "20261130.log", "20251231.log"})
            std::ofstream(dir + "/" + name) << "old\n";

        kpes::rotating_file_sink sink(dir, 100, 3);
        sink.set_date(20261207);
        const std::string line(30, 'x');
        for (int i = 0; i < 20; ++i) ASSERT_EQ(sink.write(line.data(), line.size()), 30);
        // Days 5, 6 and 7 are kept; the 4th and older go.
        EXPECT_TRUE(exists(dir + "/20261206.log"));
        EXPECT_TRUE(exists(dir + "/20261205.log.1"));
        EXPECT_FALSE(exists(dir + "/20261204.log"));
        EXPECT_FALSE(exists(dir + "/20261130.log"));
        // More than the sweep's reach back: left alone rather than looked for forever.
        EXPECT_TRUE(exists(dir + "/20251231.log"));
        // The day's file never passes the limit; the one before it is kept once.
        EXPECT_LE(std::filesystem::file_size(dir + "/20261207.log"), 100u);
        EXPECT_LE(std::filesystem::file_size(dir + "/20261207.log.1"), 100u);
        EXPECT_EQ(std::filesystem::file_size(dir + "/20261207.log.1"), 90u);

        // A line longer than the limit is still written, alone in its file.
        const std::string long_line(150, 'y');
        EXPECT_EQ(sink.write(long_line.data(), long_line.size()), 150);
        EXPECT_EQ(readAll(dir + "/20261207.log"), long_line);

        // A new year reaches back over the boundary.
        sink.set_date(20270102);
        EXPECT_EQ(sink.write("z\n", 2), 2);
        EXPECT_FALSE(exists(dir + "/20261207.log"));
        EXPECT_FALSE(exists(dir + "/20261207.log.1"));
    }
    // Every sink is closed first: Windows refuses to remove a file that is open.
    std::filesystem::remove_all(dir);
}

TEST(RotatingFileSink, ReceivesTheFacilityLinesAndFailsWhereNoFileCanBeMade) {
    const std::string dir = MakeUniqueTempDir("kp_log_");
    ASSERT_FALSE(dir.empty());
    {
        kpes::rotating_file_sink sink(dir, 1 << 20, 7);
        sink.set_date(20261208);
        kpes::add_log_sink(&sink, kpes::LS_INFO);
        KPES_LOG(kpes::LS_ERROR) << "to the file";
        KPES_LOG(kpes::LS_VERBOSE) << "below the sink";
        kpes::remove_log_sink(&sink);
        const std::string text = readAll(dir + "/20261208.log");
        EXPECT_NE(text.find("to the file\n"), std::string::npos) << text;
        EXPECT_EQ(text.find("below the sink"), std::string::npos) << text;

        // The folder's place is taken by a file: the sink refuses the line instead of crashing.
        std::ofstream(dir + "/blocked") << "x";
        kpes::rotating_file_sink blocked(dir + "/blocked", 100, 7);
        EXPECT_EQ(blocked.write("a\n", 2), -1);
    }
    // Every sink is closed first: Windows refuses to remove a file that is open.
    std::filesystem::remove_all(dir);
}

TEST(EscapeControls, RemoteTextCannotEndOrForgeALine) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"192.168.1.100", "192.168.1.100"},
        {"cam\n(logging.cc:1): forged", "cam\\n(logging.cc:1): forged"},
        {"a\rb\tc", "a\\rb\\tc"},
        {std::string("nul\0x", 5), "nul\\x00x"},
        {"\x1b[31mred\x7f", "\\x1b[31mred\\x7f"},
        {"back\\slash", "back\\\\slash"},  // so an escaped "\n" cannot be told from a real one
        {"相机", "相机"},                  // multi-byte characters pass unchanged
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(kpes::escape_controls(c.in), c.out) << c.out;
}
