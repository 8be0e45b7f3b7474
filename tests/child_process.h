// SPDX-License-Identifier: MIT
// Running a piece of a test in a child process, so that limits, lowered privileges or a
// kill stay out of the test runner.
#pragma once

#include <functional>
#include <sys/wait.h>
#include <unistd.h>

namespace jiajiemi::test {

// The child's exit code, or 128 plus the signal that ended it.
inline int InChild(const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace jiajiemi::test
