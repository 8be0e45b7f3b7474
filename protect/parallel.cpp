// Spreading enciphering over the cores.
#include "parallel.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

namespace jiajiemi {
namespace {

// How many follower threads of ProduceAndFollow are running. A follower keeps a core for
// as long as its producer runs; the digest of a content, which nothing can split, is one.
// Spreading blocks over that core as well only makes them take turns with the follower,
// and the whole run waits for the follower that fell behind.
std::atomic<std::size_t> runningFollowers{0};

}  // namespace

void ParallelFor(std::size_t count, std::size_t minPerThread, const std::function<void(std::size_t, std::size_t)>& work) {
    const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t followers = runningFollowers.load();
    const std::size_t freeCores = cores > followers ? cores - followers : 1;
    const std::size_t threads = std::clamp<std::size_t>(count / std::max<std::size_t>(minPerThread, 1), 1, freeCores);
    if (threads == 1) {
        if (count > 0) work(0, count);
        return;
    }
    // The threads claim small runs as they go rather than fixed shares: when another
    // thread of the process holds a core, a helper may start late, and the others must
    // not sit waiting for its share.
    const std::size_t run = std::max<std::size_t>(1, minPerThread / 8);
    std::atomic<std::size_t> next{0};
    const auto claimAndWork = [&] {
        for (std::size_t first; (first = next.fetch_add(run)) < count;) work(first, std::min(count, first + run));
    };
    std::vector<std::jthread> helpers;
    for (std::size_t t = 1; t < threads; ++t) {
        try {
            helpers.emplace_back(claimAndWork);
        } catch (const std::system_error&) {
            break;  // no thread to spare: the threads already at work claim the rest
        }
    }
    claimAndWork();
}

namespace {

// ProduceAndFollow on the calling thread alone: each piece is followed right after it
// was produced.
std::size_t ProduceAndFollowHere(std::size_t count, std::size_t piece,
                                 const std::function<std::size_t(std::size_t, std::size_t)>& produce,
                                 const std::vector<PieceWork>& followers) {
    std::size_t first = 0;
    while (first < count) {
        const std::size_t last = std::min(count, first + piece);
        const std::size_t got = std::min(produce(first, last), last - first);
        if (got > 0)
            for (const PieceWork& follow : followers) follow(first, first + got);
        first += got;
        if (first < last) break;
    }
    return first;
}

}  // namespace

std::size_t ProduceAndFollow(std::size_t count, std::size_t piece, std::size_t ahead,
                             const std::function<std::size_t(std::size_t, std::size_t)>& produce,
                             const std::vector<PieceWork>& followers) {
    // A single piece leaves nothing to overlap, and is not worth a thread.
    if (followers.empty() || count <= piece) return ProduceAndFollowHere(count, piece, produce, followers);

    // produced holds how far production got, with Finished set once it stopped; each
    // follower publishes how far it has followed.
    constexpr std::uint64_t Finished = std::uint64_t(1) << 63;
    std::atomic<std::uint64_t> produced{0};
    std::vector<std::atomic<std::uint64_t>> followed(followers.size());
    auto finish = [&](std::uint64_t total) {
        produced.store(total | Finished);
        produced.notify_all();
    };
    // Declared before the threads, so that it counts them until they are joined.
    struct Counted {
        std::size_t n;
        explicit Counted(std::size_t count) : n(count) { runningFollowers += n; }
        ~Counted() { runningFollowers -= n; }
    };
    std::optional<Counted> counted(std::in_place, followers.size());
    std::vector<std::jthread> threads;
    try {
        for (std::size_t f = 0; f < followers.size(); ++f) {
            threads.emplace_back([&, f] {
                std::uint64_t done = 0;
                for (;;) {
                    const std::uint64_t state = produced.load();
                    const std::uint64_t ready = state & ~Finished;
                    if (ready > done) {
                        // Piece by piece, so that a piece never wraps around the producer's ring.
                        for (std::uint64_t next; done < ready; done = next) {
                            next = std::min<std::uint64_t>(ready, (done / piece + 1) * piece);
                            followers[f](done, next);
                        }
                        followed[f].store(done);
                        followed[f].notify_one();
                    } else if (state & Finished) {
                        return;
                    } else {
                        produced.wait(state);
                    }
                }
            });
        }
    } catch (const std::system_error&) {
        // No thread to spare: those started see nothing produced and end, and everything
        // runs here.
        finish(0);
        threads.clear();
        counted.reset();
        return ProduceAndFollowHere(count, piece, produce, followers);
    }

    std::size_t first = 0;
    try {
        while (first < count) {
            const std::size_t last = std::min(count, first + piece);
            for (auto& progress : followed)
                for (std::uint64_t f = progress.load(); last > f + ahead; f = progress.load()) progress.wait(f);
            first += std::min(produce(first, last), last - first);
            produced.store(first);
            produced.notify_all();
            if (first < last) break;  // fewer than asked: the end
        }
    } catch (...) {
        finish(first);
        throw;
    }
    finish(first);
    return first;
}

}  // namespace jiajiemi
