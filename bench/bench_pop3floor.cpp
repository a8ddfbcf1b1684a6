// Runs the floor POP3 client once against a mailbox on 127.0.0.1 and prints
// what it measured, so the helper can be tried on its own.
//
// Usage: bench_pop3floor PORT USER PASS

#include "Pop3Floor.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s PORT USER PASS\n", argv[0]);
        return 2;
    }
    const FloorResult r = RunFloorCheck(quint16(std::atoi(argv[1])), argv[2], argv[3]);
    if (!r.ok) {
        std::fprintf(stderr, "floor check failed: %s\n", qPrintable(r.error));
        return 1;
    }
    std::printf("messages            %d\n", r.messages);
    std::printf("check seconds       %.6f\n", r.seconds);
    std::printf("ms per RETR         %.4f\n", r.messages ? r.seconds * 1e3 / r.messages : 0.0);
    std::printf("client us per RETR  %.2f\n", r.clientUsPerRetr);
    std::printf("SHA-1 of contents   %s\n", r.digest.toHex().constData());
    return 0;
}
