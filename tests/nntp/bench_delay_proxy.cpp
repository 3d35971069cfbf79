// A delaying proxy as a process of its own, for benchmarks of programs other than ours (and of
// ours through the same path): forwards 127.0.0.1:<port it prints> to 127.0.0.1:UPSTREAM,
// holding every piece of data back DELAY_MS in each direction, until its standard input ends.
//
//   bench_delay_proxy UPSTREAM DELAY_MS

#include "support/DelayProxy.h"

#include <cstdio>
#include <cstdlib>

#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s UPSTREAM_PORT DELAY_MS\n", argv[0]);
        return 2;
    }
    DelayProxy proxy(std::atoi(argv[1]), std::atoi(argv[2]));
    std::printf("%d\n", proxy.Port());
    std::fflush(stdout);
    char buffer[256];
    while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
    return 0;
}
