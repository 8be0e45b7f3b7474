// SPDX-License-Identifier: MIT
// Spreading work over the cores.
#include "protect/parallel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace jiajiemi {
namespace {

// How many follower threads of ProduceAndFollow are running. A follower keeps a core for
// as long as its producer runs; the digest of a content, which nothing can split, is one.
// Spreading blocks over that core as well only makes them take turns with the follower,
// and the whole run waits for the follower that fell behind.
std::atomic<std::size_t> runningFollowers{0};

// Starts one thread for each call of start(k), k from 0 to wanted - 1, as far as threads
// can be had: no thread, or no memory for one, just means fewer.
template <typename Start>
std::vector<std::jthread> StartThreads(std::size_t wanted, const Start& start) {
    std::vector<std::jthread> threads;
    try {
        threads.reserve(wanted);
    } catch (...) {
        return threads;
    }
    for (std::size_t k = 0; k < wanted; ++k) {
        try {
            threads.emplace_back(start(k));
        } catch (...) {
            break;
        }
    }
    return threads;
}

}  // namespace

std::size_t Cores() {
    static const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
    return cores;
}

void ParallelFor(std::size_t count, std::size_t minPerThread, const std::function<void(std::size_t, std::size_t)>& work) {
    const std::size_t followers = runningFollowers.load();
    const std::size_t freeCores = Cores() > followers ? Cores() - followers : 1;
    const std::size_t threads = std::clamp<std::size_t>(count / std::max<std::size_t>(minPerThread, 1), 1, freeCores);
    if (threads == 1) {
        if (count > 0) work(0, count);
        return;
    }
    // The threads claim small runs as they go rather than fixed shares: when another
    // thread of the process holds a core, a helper may start late, and the others must
    // not sit waiting for its share. A helper that cannot be started leaves its runs to
    // the threads already at work.
    const std::size_t run = std::max<std::size_t>(1, minPerThread / 8);
    std::atomic<std::size_t> next{0};
    const auto claimAndWork = [&] {
        for (std::size_t first; (first = next.fetch_add(run)) < count;) work(first, std::min(count, first + run));
    };
    const std::vector<std::jthread> helpers = StartThreads(threads - 1, [&](std::size_t) { return claimAndWork; });
    claimAndWork();
}

namespace {

std::span<std::uint8_t> Slot(std::span<std::uint8_t> ring, std::size_t first, std::size_t last) {
    return ring.subspan(first % ring.size(), last - first);
}

// ProduceAndFollow on the calling thread alone: each piece is followed right after it
// was produced.
std::size_t ProduceAndFollowHere(std::size_t count, std::size_t piece, std::span<std::uint8_t> ring,
                                 const ProducePiece& produce, const std::vector<FollowPiece>& followers) {
    std::size_t first = 0;
    while (first < count) {
        const std::size_t last = std::min(count, first + piece);
        const std::size_t got = std::min(produce(Slot(ring, first, last), first), last - first);
        if (got > 0)
            for (const FollowPiece& follow : followers) follow(Slot(ring, first, first + got), first);
        first += got;
        if (first < last) break;
    }
    return first;
}

// The first failure of a run, and the signal for everyone else to stop.
class FirstFailure {
public:
    void Record() {
        std::lock_guard lock(mutex_);
        if (!failure_) failure_ = std::current_exception();
        stop_.store(true);
    }
    bool Stopped() const { return stop_.load(); }
    void RethrowIfAny() {
        if (failure_) std::rethrow_exception(failure_);
    }

private:
    std::mutex mutex_;
    std::exception_ptr failure_;
    std::atomic<bool> stop_{false};
};

}  // namespace

std::size_t ProduceAndFollow(std::size_t count, std::size_t piece, std::span<std::uint8_t> ring,
                             const ProducePiece& produce, const std::vector<FollowPiece>& followers) {
    // A single piece leaves nothing to overlap, and is not worth a thread.
    if (followers.empty() || count <= piece) return ProduceAndFollowHere(count, piece, ring, produce, followers);

    // produced holds how far production got, with Finished set once it stopped; each
    // follower publishes how far it has followed, and Finished once it gave up.
    constexpr std::uint64_t Finished = std::uint64_t(1) << 63;
    std::atomic<std::uint64_t> produced{0};
    std::vector<std::atomic<std::uint64_t>> followed(followers.size());
    FirstFailure failure;
    const auto finish = [&](std::uint64_t total) {
        produced.store(total | Finished);
        produced.notify_all();
    };
    const auto follow = [&](std::size_t f) {
        return [&, f] {
            std::uint64_t done = 0;
            try {
                for (;;) {
                    const std::uint64_t state = produced.load();
                    const std::uint64_t ready = state & ~Finished;
                    if (failure.Stopped()) break;
                    if (ready > done) {
                        // Piece by piece, so that a piece never wraps around the ring.
                        for (std::uint64_t next; done < ready && !failure.Stopped(); done = next) {
                            next = std::min<std::uint64_t>(ready, (done / piece + 1) * piece);
                            followers[f](Slot(ring, done, next), done);
                        }
                        followed[f].store(done);
                        followed[f].notify_one();
                    } else if (state & Finished) {
                        return;
                    } else {
                        produced.wait(state);
                    }
                }
            } catch (...) {
                failure.Record();
            }
            followed[f].store(Finished);  // never waited on again
            followed[f].notify_one();
        };
    };

    // Declared before the threads, so that it counts them until they are joined.
    struct Counted {
        std::size_t n;
        explicit Counted(std::size_t count) : n(count) { runningFollowers += n; }
        ~Counted() { runningFollowers -= n; }
    };
    std::optional<Counted> counted(std::in_place, followers.size());
    std::vector<std::jthread> threads = StartThreads(followers.size(), follow);
    if (threads.size() < followers.size()) {
        // Not every follower could have its thread: those started see nothing produced
        // and end, and everything runs here.
        finish(0);
        threads.clear();
        counted.reset();
        return ProduceAndFollowHere(count, piece, ring, produce, followers);
    }

    std::size_t first = 0;
    try {
        while (first < count && !failure.Stopped()) {
            const std::size_t last = std::min(count, first + piece);
            for (auto& progress : followed)
                for (std::uint64_t f = progress.load(); !(f & Finished) && last > f + ring.size(); f = progress.load())
                    progress.wait(f);
            if (failure.Stopped()) break;
            first += std::min(produce(Slot(ring, first, last), first), last - first);
            produced.store(first);
            produced.notify_all();
            if (first < last) break;  // fewer than asked: the end
        }
    } catch (...) {
        failure.Record();
    }
    finish(first);
    threads.clear();  // joins
    failure.RethrowIfAny();
    return first;
}

}  // namespace jiajiemi
