// SPDX-License-Identifier: MIT
// The command-line surface's progress line: shown on a terminal for long work, cleared at
// the end, never shown elsewhere; the work's exception reaches the caller.
#include "cli/cli_surface.h"
#include "commands/messages.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <pty.h>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace jiajiemi {
namespace {

using namespace std::chrono_literals;

// Everything written to the terminal side of a pseudo-terminal, collected as it comes.
class Screen {
public:
    Screen() {
        if (openpty(&master_, &terminal_, nullptr, nullptr, nullptr) != 0) return;
        reader_ = std::thread([this] {
            char bytes[4096];
            ssize_t got;
            while ((got = read(master_, bytes, sizeof bytes)) > 0) {
                const std::lock_guard lock(mutex_);
                shown_.append(bytes, std::size_t(got));
                changed_.notify_all();
            }
        });
    }
    ~Screen() {
        if (terminal_ >= 0) close(terminal_);
        if (reader_.joinable()) reader_.join();
        close(master_);
    }
    int terminal() const { return terminal_; }

    // Waits for text to appear; gives up only after a long silence, so that a fault fails
    // the test instead of hanging it.
    bool WaitFor(const std::string& text) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 30s, [&] { return shown_.find(text) != std::string::npos; });
    }
    // All that was shown, once the terminal side is closed and everything was read.
    std::string Finish() {
        close(terminal_);
        terminal_ = -1;
        reader_.join();
        return shown_;
    }

private:
    int master_ = -1;
    int terminal_ = -1;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string shown_;
    std::thread reader_;
};

// The line is erased at the end: the last thing written is a carriage return, a run of
// spaces at least as wide as the widest line, and a carriage return.
bool EndsErased(const std::string& shown) {
    if (shown.size() < 2 || shown.back() != '\r') return false;
    const std::size_t start = shown.find_last_of('\r', shown.size() - 2);
    if (start == std::string::npos) return false;
    const std::string blank = shown.substr(start + 1, shown.size() - start - 2);
    return blank.size() >= 16 && blank.find_first_not_of(' ') == std::string::npos;
}

CliSurface Surface(std::ostringstream& out, std::ostringstream& err, int terminal, ProgressTiming timing = {}) {
    return CliSurface("source", "dest", "pw", false, out, err, terminal, timing);
}

TEST(CliSurface, ProgressLineOnATerminal) {
    Screen screen;
    ASSERT_GE(screen.terminal(), 0);
    std::ostringstream out, err;
    CliSurface surface = Surface(out, err, screen.terminal());
    WorkProgress progress;
    const std::string line = "\r" + std::string(messages::WorkingLine) + " 42%";
    bool seen = false;
    surface.RunInBackground(
        [&] {
            progress.Expect(100);
            progress.Advance(42);
            seen = screen.WaitFor(line);  // the work lasts until its progress was shown
            progress.Advance(58);
        },
        progress);
    const std::string shown = screen.Finish();
    EXPECT_TRUE(seen) << shown;
    EXPECT_EQ(shown.rfind("\r" + std::string(messages::WorkingLine), 0), 0u) << shown;
    EXPECT_TRUE(EndsErased(shown)) << shown;
    EXPECT_EQ(out.str() + err.str(), "");
}

// Where the line would be wrong: not a terminal, or work that ends before the delay.
TEST(CliSurface, NoProgressLine) {
    struct Case {
        const char* name;
        bool terminal;
        ProgressTiming timing;
    };
    const Case cases[] = {
        {"a pipe", false, {0ms, 1ms}},
        {"short work", true, {24h, 1ms}},
    };
    for (const Case& c : cases) {
        Screen screen;
        int pipeEnds[2] = {-1, -1};
        ASSERT_EQ(pipe2(pipeEnds, O_NONBLOCK), 0);
        std::ostringstream out, err;
        CliSurface surface = Surface(out, err, c.terminal ? screen.terminal() : pipeEnds[1], c.timing);
        WorkProgress progress;
        bool ran = false;
        surface.RunInBackground(
            [&] {
                progress.Expect(100);
                for (int k = 0; k < 100; ++k) {
                    progress.Advance(1);
                    if (!c.terminal) std::this_thread::sleep_for(1ms);  // many chances to draw
                }
                ran = true;
            },
            progress);
        EXPECT_TRUE(ran) << c.name;
        char byte;
        EXPECT_EQ(read(pipeEnds[0], &byte, 1), -1) << c.name;
        EXPECT_EQ(screen.Finish(), "") << c.name;
        close(pipeEnds[0]);
        close(pipeEnds[1]);
    }
}

// The work's failure is the caller's, after the line was erased; with no terminal too.
TEST(CliSurface, WorkFailureReachesTheCaller) {
    for (const bool onTerminal : {true, false}) {
        Screen screen;
        std::ostringstream out, err;
        CliSurface surface = Surface(out, err, onTerminal ? screen.terminal() : -1, {0ms, 1ms});
        WorkProgress progress;
        const auto work = [&] {
            if (onTerminal) screen.WaitFor(std::string(messages::WorkingLine));
            throw std::runtime_error("disk on fire");
        };
        EXPECT_THROW(surface.RunInBackground(work, progress), std::runtime_error);
        const std::string shown = screen.Finish();
        EXPECT_EQ(EndsErased(shown), onTerminal) << shown;
    }
}

}  // namespace
}  // namespace jiajiemi
