// SPDX-License-Identifier: MIT
// The progress line on a terminal: work on one thread, the line drawn from the other.
#include "cli/progress_line.h"

#include "commands/messages.h"

#include <cerrno>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace jiajiemi {
namespace {

// Wider than the widest line, "正在处理… 100%", even where "…" takes two columns.
constexpr std::size_t LineColumns = 20;

// A line that cannot be shown is no reason to fail the work, so errors are dropped.
void WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        text.remove_prefix(std::size_t(written));
    }
}

std::string Line(double fraction) {
    return "\r" + std::string(messages::WorkingLine) + " " + std::to_string(int(fraction * 100)) + "%";
}

}  // namespace

void RunShowingProgress(const std::function<void()>& work, const WorkProgress& progress, int terminal,
                        ProgressTiming timing) {
    if (terminal < 0 || !::isatty(terminal)) {
        work();
        return;
    }
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::exception_ptr failure;
    std::thread worker;
    try {
        worker = std::thread([&] {
            try {
                work();
            } catch (...) {
                failure = std::current_exception();
            }
            const std::lock_guard lock(mutex);
            done = true;
            finished.notify_one();
        });
    } catch (const std::system_error&) {
        work();  // no thread to spare: the work matters, the line does not
        return;
    }

    bool shown = false;
    {
        std::unique_lock lock(mutex);
        if (!finished.wait_for(lock, timing.delay, [&] { return done; })) {
            std::string last;
            do {
                std::string line = Line(progress.Fraction());
                if (line != last) {
                    lock.unlock();
                    WriteAll(terminal, line);
                    lock.lock();
                    last = std::move(line);
                    shown = true;
                }
            } while (!finished.wait_for(lock, timing.interval, [&] { return done; }));
        }
    }
    worker.join();
    if (shown) WriteAll(terminal, "\r" + std::string(LineColumns, ' ') + "\r");
    if (failure) std::rethrow_exception(failure);
}

}  // namespace jiajiemi
