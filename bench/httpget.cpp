// Fetches a URL with TNMHTTP.Get into a file and prints the outcome:
//   httpget URL FILE
// Prints ReplyCode, TotalBytes, ReceivedBytes, the number of OnPacketRecvd
// calls and the time the Get took. Exit status 0 for a 2xx reply.
#include "net/Nmhttp.h"
#include "platform/Application.h"

#include <chrono>
#include <cstdio>
#include <exception>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s URL FILE\n", argv[0]);
        return 2;
    }
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    TNMHTTP http;
    http.InputFileMode = true;
    http.Body = argv[2];
    long packets = 0;
    http.OnPacketRecvd = [&](QObject *) { ++packets; };
    const auto start = std::chrono::steady_clock::now();
    try {
        http.Get(argv[1]);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "httpget: %s\n", e.what());
        return 1;
    }
    const double seconds
        = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("ReplyCode %d\nTotalBytes %lld\nReceivedBytes %lld\nPackets %ld\nSeconds %.6f\n",
                int(http.ReplyCode), static_cast<long long>(http.TotalBytes),
                static_cast<long long>(http.ReceivedBytes), packets, seconds);
    return http.ReplyCode >= 200 && http.ReplyCode < 300 ? 0 : 1;
}
