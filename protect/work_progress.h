// SPDX-License-Identifier: MIT
// How far a long piece of file work has come, and the user's wish that it stop: the work
// counts the bytes it reads and writes and checks for a cancel as it goes; a front end
// reads the fraction and may ask for the cancel, from any thread.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>

namespace jiajiemi {

// Thrown by the work once a cancel was asked; whatever it had begun is undone on the way
// out (a temporary file is removed, an existing destination stays as it was).
class WorkCancelled : public std::exception {
public:
    const char* what() const noexcept override { return "cancelled"; }
};

class WorkProgress {
public:
    // Announces bytes still to be read or written, as soon as the work knows of them.
    void Expect(std::uint64_t bytes) { total_ += bytes; }
    // Counts bytes read or written; throws WorkCancelled once a cancel was asked.
    void Advance(std::uint64_t bytes) {
        done_ += bytes;
        ThrowIfCancelled();
    }
    void ThrowIfCancelled() const {
        if (cancelled_.load()) throw WorkCancelled();
    }

    // Whether the work has announced how much it will do.
    bool Measured() const { return total_.load() > 0; }
    // From 0 to 1; 0 while nothing is announced.
    double Fraction() const {
        const std::uint64_t total = total_.load();
        return total == 0 ? 0.0 : std::min(1.0, double(done_.load()) / double(total));
    }
    void Cancel() { cancelled_.store(true); }
    bool CancelAsked() const { return cancelled_.load(); }

private:
    std::atomic<std::uint64_t> done_{0};
    std::atomic<std::uint64_t> total_{0};
    std::atomic<bool> cancelled_{false};
};

// Progress that nobody watches and nobody cancels.
inline WorkProgress& Unwatched() {
    thread_local WorkProgress progress;
    return progress;
}

}  // namespace jiajiemi
