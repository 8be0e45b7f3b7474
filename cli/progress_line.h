// SPDX-License-Identifier: MIT
// The progress line that jiajiemi-cli keeps on a terminal while a long piece of work runs.
#pragma once

#include "protect/work_progress.h"

#include <chrono>
#include <functional>

namespace jiajiemi {

struct ProgressTiming {
    std::chrono::milliseconds delay{500};     // work that ends sooner shows nothing
    std::chrono::milliseconds interval{100};  // the longest the line goes without a look
};

// Runs work. When terminal is a terminal and the work outlasts timing.delay, one line there
// shows how far progress has come, updated in place and erased before this returns, so
// that whatever is written next starts on a clean line; otherwise nothing is written.
// work then runs on a thread of its own, and what it throws is thrown here.
void RunShowingProgress(const std::function<void()>& work, const WorkProgress& progress, int terminal,
                        ProgressTiming timing = {});

}  // namespace jiajiemi
