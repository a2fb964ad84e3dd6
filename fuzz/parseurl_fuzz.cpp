// The HTTP client's URL splitting: any bytes as the URL. A URL it can't use
// must be refused with the program's exception; one it takes must give a
// host without separators, a port in range and a path from the root. It
// never touches the network.
#include "fuzz/FuzzSupport.h"
#include "net/Nmhttp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static TNMHTTP http;
    http.Host = "127.0.0.1";
    http.Port = 0;
    http.CurrentURL.assign(reinterpret_cast<const char *>(data), size);
    const std::string url = http.CurrentURL;
    try {
        http.ParseURL();
    } catch (const Exception &) {
        return 0;
    }
    FUZZ_CHECK(!http.RequestPath.empty() && http.RequestPath[0] == '/', http.RequestPath);
    FUZZ_CHECK(http.Host.find_first_of("/:") == std::string::npos, http.Host);
    FUZZ_CHECK(http.Port >= 0 && http.Port <= 65535, std::to_string(http.Port));
    FUZZ_CHECK(http.CurrentURL.compare(0, url.size(), url) == 0, "URL rewritten");
    return 0;
}
