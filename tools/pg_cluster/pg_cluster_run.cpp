// pg_cluster_run [--durable]: a throw-away PostgreSQL cluster for scripts
// (the browser test, the web benchmark). Prints the socket directory on
// the first line of standard output once the server takes connections,
// whose superuser is "tallyphon" (trust, Unix socket only); stops the
// server and removes the cluster when standard input ends or on SIGTERM or
// SIGINT, so that a script that dies takes its cluster with it.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>

#include "tools/pg_cluster/pg_cluster.h"

namespace {

volatile sig_atomic_t g_stop = 0;

void OnSignal(int) {
    g_stop = 1;
}

// Waits until standard input reaches its end (or fails) or a stop signal
// comes.
void AwaitEnd() {
    char buffer[256];
    while (!g_stop) {
        pollfd in{STDIN_FILENO, POLLIN, 0};
        if (poll(&in, 1, 1000) < 0) continue;
        if (in.revents == 0) continue;
        if (read(STDIN_FILENO, buffer, sizeof buffer) <= 0) return;
    }
}

}  // namespace

int main(int argc, char** argv) {
    const bool durable = argc == 2 && std::strcmp(argv[1], "--durable") == 0;
    if (argc > 2 || (argc == 2 && !durable)) {
        std::fprintf(stderr, "usage: pg_cluster_run [--durable]\n");
        return 2;
    }
    struct sigaction stop {};
    stop.sa_handler = OnSignal;
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);
    signal(SIGPIPE, SIG_IGN);
    try {
        TPgCluster cluster(durable);
        std::printf("%s\n", cluster.Dir().c_str());
        std::fflush(stdout);
        AwaitEnd();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pg_cluster_run: %s\n", e.what());
        return 1;
    }
    return 0;
}
