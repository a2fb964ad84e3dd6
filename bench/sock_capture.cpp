// Socket transfer benchmarks; bench/sock_capture.sh drives them.
//
//   sock_capture capture PORT FILE   connect to 127.0.0.1:PORT, CaptureFile
//                                    into FILE, print "<bytes> <seconds>"
//   sock_capture idle [RUNS]         ReadLn on a silent peer with a 2 s
//                                    time-out; print the median CPU time

#include "net/Psock.h"
#include "platform/Application.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double CpuSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

int Capture(int port, const std::string &file)
{
    TPowersock sock;
    sock.Host = "127.0.0.1";
    sock.Port = port;
    const double start = Now();
    sock.Connect();
    sock.CaptureFile(file);
    const double seconds = Now() - start;
    std::printf("%lld %.6f\n", static_cast<long long>(sock.ReceivedBytes), seconds);
    return 0;
}

int Idle(int runs)
{
    // A peer that accepts (through the backlog) and never says a word.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener, reinterpret_cast<sockaddr *>(&a), sizeof a);
    ::listen(listener, 16);
    socklen_t len = sizeof a;
    ::getsockname(listener, reinterpret_cast<sockaddr *>(&a), &len);

    std::vector<double> cpu;
    for (int run = 0; run <= runs; ++run) { // run 0 warms up
        TPowersock sock;
        sock.Host = "127.0.0.1";
        sock.Port = ntohs(a.sin_port);
        sock.Connect();
        sock.TimeOut = 2000;
        const double before = CpuSeconds();
        const double start = Now();
        try {
            sock.ReadLn();
        } catch (const EAbortError &) {
        }
        const double used = CpuSeconds() - before;
        if (run > 0) {
            cpu.push_back(used);
            std::printf("idle run %d: waited %.3f s, cpu %.2f ms\n", run, Now() - start,
                        used * 1000);
        }
    }
    std::sort(cpu.begin(), cpu.end());
    std::printf("ReadLn waiting 2 s on a silent peer: median CPU %.2f ms (limit 1 ms)\n",
                cpu[cpu.size() / 2] * 1000);
    std::printf("FIGURE readln_idle_2s_cpu %.2f ms max=1\n", cpu[cpu.size() / 2] * 1000);
    ::close(listener);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    const std::string mode = argc > 1 ? argv[1] : "";
    try {
        if (mode == "capture" && argc == 4)
            return Capture(std::atoi(argv[2]), argv[3]);
        if (mode == "idle")
            return Idle(argc > 2 ? std::atoi(argv[2]) : 5);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "sock_capture: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "usage: sock_capture capture PORT FILE | sock_capture idle [RUNS]\n");
    return 2;
}
