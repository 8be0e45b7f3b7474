// SPDX-License-Identifier: MIT
// A fixed table of the temporary files being written, which a signal handler can read.
#include "protect/temporary_files.h"

#include <atomic>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace jiajiemi {
namespace {

// The handler may not allocate or lock, so the table is fixed: a slot is taken with one
// atomic exchange and is read by the handler only while it says Live.
enum SlotState : int { Free, Filling, Live };

struct Slot {
    std::atomic<int> state{Free};
    int folder = -1;
    char name[NAME_MAX + 1] = {};
};

// One command writes one file at a time; a few more leave room for a library user.
constexpr int SlotCount = 16;
Slot slots[SlotCount];

constexpr int RemovingSignals[] = {SIGINT, SIGTERM, SIGHUP};

void RemoveAndEnd(int signal) {
    RemoveTemporaryFilesNow();
    // The default action then ends the process by the signal, once the handler returns
    // and the signal is no longer blocked.
    std::signal(signal, SIG_DFL);
    ::raise(signal);
}

}  // namespace

int RememberTemporaryFile(int folder, const char* name) {
    if (std::strlen(name) > NAME_MAX) return -1;
    for (int k = 0; k < SlotCount; ++k) {
        int expected = Free;
        if (!slots[k].state.compare_exchange_strong(expected, Filling)) continue;
        slots[k].folder = folder;
        std::strcpy(slots[k].name, name);
        slots[k].state.store(Live);
        return k;
    }
    return -1;
}

void RemoveTemporaryFilesNow() {
    for (Slot& slot : slots)
        if (slot.state.load() == Live) ::unlinkat(slot.folder, slot.name, 0);
}

void ForgetTemporaryFile(int ticket) {
    if (ticket >= 0 && ticket < SlotCount) slots[ticket].state.store(Free);
}

void RemoveTemporaryFilesOnSignals() {
    struct sigaction action {};
    action.sa_handler = RemoveAndEnd;
    sigfillset(&action.sa_mask);  // no second signal cuts into the removal
    for (const int signal : RemovingSignals) {
        struct sigaction old {};
        if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;  // nohup, a background job
        ::sigaction(signal, &action, nullptr);
    }
}

}  // namespace jiajiemi
