// Helpers for tests run by tests/support/run_in_netns.sh, which puts the test
// in a private station namespace and keeps a second one for simulated sensors.
#pragma once

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <sys/socket.h>
#include <sys/types.h>
#include <thread>
#include <unistd.h>

namespace hygro::test {

// True when run_in_netns.sh made the namespaces (traffic beyond 127.0.0.1 is safe).
inline bool InPrivateNetns() {
    const char* pid = std::getenv("HYGRO_SIM_NETNS_PID");
    return pid && *pid;
}

// The process holding the sensors' namespace, or 0.
inline pid_t SimNetnsPid() {
    const char* pid = std::getenv("HYGRO_SIM_NETNS_PID");
    return pid ? static_cast<pid_t>(std::atol(pid)) : 0;
}

// A socket in the namespace of `holder` (a socket stays in the namespace it
// was made in). setns() switches only the calling thread, so a short-lived
// thread does it and the test's own threads stay where they are.
// -1 with errno set on failure.
inline int SocketInNetns(pid_t holder, int domain, int type) {
    int fd = -1;
    int error = 0;
    std::thread worker([&] {
        const std::string path = "/proc/" + std::to_string(holder) + "/ns/net";
        const int ns = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (ns < 0) {
            error = errno;
            return;
        }
        if (::setns(ns, CLONE_NEWNET) != 0) {
            error = errno;
            ::close(ns);
            return;
        }
        ::close(ns);
        fd = ::socket(domain, type | SOCK_CLOEXEC, 0);
        if (fd < 0) error = errno;
    });
    worker.join();
    if (fd < 0) errno = error;
    return fd;
}

} // namespace hygro::test
