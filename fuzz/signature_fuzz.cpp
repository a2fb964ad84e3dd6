// The signature check: any bytes as a manifest and its minisign signature
// file, split at the first "\n%%\n", checked with the key that signed the
// seeds (its secret half was thrown away). Checks that only what that key
// signed is ever taken, with the timestamp its trusted comment carries, and
// that a refusal says why in a short line free of control bytes.
#include "fuzz/FuzzSupport.h"
#include "updater/Signature.h"

#include <algorithm>

namespace {

const char kPublicKey[] = "RWQ8DfN70/HkXI6AvEN21BVedQc7zIlV7PKTGgVrvJbxlTQ1OCHoFW2d";

const std::string kDatabases
    = "Main;0.2\r\nNeo Geo CD.cdl;14-"
      "5b1f0c3f3a29a1d1bd7e6c5bd8d1ea1c1a3d51d5c9d6d8f1c0a7b5e2f3c4d5e6\r\n";

// Every manifest and trusted comment the key signed with a timestamp.
struct TSigned {
    std::string message, comment;
    std::int64_t timestamp;
};
const TSigned kSigned[] = {
    { kDatabases, "timestamp:1796952480\tfile:version.ini\thashed", 1796952480 },
    { kDatabases, "timestamp:1796952480\tfile:version.ini", 1796952480 },
    { "a;1", "timestamp:1700000000", 1700000000 },
    { "", "file:empty\ttimestamp:5", 5 },
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::vector<std::string> parts = SplitInput(data, size, "\n%%\n", 2);
    const TSignatureCheck check = CheckSignature(kPublicKey, parts[0], parts[1]);
    if (check.Refusal) {
        FUZZ_CHECK(!check.Refusal->empty() && check.Refusal->size() < 500, *check.Refusal);
        FUZZ_CHECK(std::none_of(check.Refusal->begin(), check.Refusal->end(),
                                [](char c) { return static_cast<unsigned char>(c) < 32; }),
                   *check.Refusal);
        FUZZ_CHECK(check.Timestamp == 0 && check.TrustedComment.empty(), *check.Refusal);
        return 0;
    }
    FUZZ_CHECK(std::any_of(std::begin(kSigned), std::end(kSigned),
                           [&](const TSigned &s) {
                               return s.message == parts[0] && s.comment == check.TrustedComment
                                   && s.timestamp == check.Timestamp;
                           }),
               "taken but never signed: " + check.TrustedComment);
    return 0;
}
