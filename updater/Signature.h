#pragma once

// Checking the publisher's minisign signature of a version manifest.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The publisher's minisign public key this program was built with (the
// base64 line of their minisign.pub); empty in a program that takes
// unsigned update sites.
extern const char kUpdateKey[];

// What checking a signature found: a refusal, or the trusted comment the
// publisher signed and the timestamp it carries.
struct TSignatureCheck {
    // Why the signed bytes are refused, as the end of a sentence about them
    // ("... is not signed by the publisher of this TIRMO").
    std::optional<std::string> Refusal;
    std::string TrustedComment;
    std::int64_t Timestamp = 0;
};

// Checks a minisign signature file (its legacy Ed25519 form or its default
// BLAKE2b-512 pre-hashed form) for `message` under `publicKey`, the base64
// line of a minisign.pub: the key id, the signature over the message's exact
// bytes, the global signature over the trusted comment, and a
// "timestamp:<seconds>" field in the trusted comment (its tab-separated
// fields, as minisign writes them).
TSignatureCheck CheckSignature(std::string_view publicKey, std::string_view message,
                               std::string_view signatureFile);
