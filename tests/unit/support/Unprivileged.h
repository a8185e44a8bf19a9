#pragma once

// Runs part of a test as a user whose file modes the kernel enforces. Root bypasses
// them, and tests run as root in CI: there the part runs in a forked child that has
// become nobody, and reports whether it passed through its exit status (what it
// prints, such as a test's failures, shows in the test's output). Whatever the part
// touches must be reachable by that user: handToUnprivileged().

#include <QFile>
#include <QString>
#include <cstdio>
#include <functional>
#include <grp.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

// nobody:nogroup, present on every Debian system.
constexpr uid_t unprivilegedUid = 65534;
constexpr gid_t unprivilegedGid = 65534;

// Hands `path` to the user the unprivileged part runs as (nothing to do unless root).
inline bool handToUnprivileged(const QString& path) {
    return ::geteuid() != 0 ||
           ::lchown(QFile::encodeName(path).constData(), unprivilegedUid, unprivilegedGid) == 0;
}

// 0 when `body` answered true; run in the caller itself unless root.
inline int runUnprivileged(const std::function<bool()>& body) {
    if (::geteuid() != 0)
        return body() ? 0 : 1;
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 ||
            ::setresgid(unprivilegedGid, unprivilegedGid, unprivilegedGid) != 0 ||
            ::setresuid(unprivilegedUid, unprivilegedUid, unprivilegedUid) != 0)
            ::_exit(3);
        const bool passed = body();
        std::fflush(stdout);
        ::_exit(passed ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
