#pragma once

// Peak memory of a piece of work, measured in a child process of its own so that what the
// parent holds does not count.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>

inline double mib(int64_t bytes) {
    return double(bytes) / (1024.0 * 1024.0);
}

// Runs `work` in a child; its peak resident memory in bytes, or -1 when it failed.
inline int64_t peakOfChild(const std::function<bool()>& work, double* seconds) {
    const auto started = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) ::_exit(work() ? 0 : 1);
    int status = 0;
    rusage usage{};
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child) return -1;
    *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return int64_t(usage.ru_maxrss) * 1024;
}
