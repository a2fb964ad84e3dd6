#include "updater/Signature.h"

#include "updater/Manifest.h"

#include <sodium.h>

#include <charconv>
#include <vector>

const char kUpdateKey[] = TIRMO_UPDATE_KEY;

namespace {

constexpr size_t kKeyIdBytes = 8;
constexpr std::string_view kUntrustedPrefix = "untrusted comment: ";
constexpr std::string_view kTrustedPrefix = "trusted comment: ";
constexpr std::string_view kTimestampField = "timestamp:";

// What minisign's base64 lines hold after their two algorithm bytes.
struct TPublicKey {
    std::string Algorithm, KeyId, Key;
};
struct TSignatureFile {
    std::string Algorithm, KeyId, Signature, TrustedComment, GlobalSignature;
};

// Strict base64 with padding, decoding to exactly `size` bytes.
std::optional<std::string> Base64(std::string_view text, size_t size)
{
    std::string bytes(size, '\0');
    size_t length = 0;
    if (sodium_base642bin(reinterpret_cast<unsigned char *>(bytes.data()), size, text.data(),
                          text.size(), nullptr, &length, nullptr, sodium_base64_VARIANT_ORIGINAL)
            != 0
        || length != size)
        return std::nullopt;
    return bytes;
}

std::optional<TPublicKey> ParsePublicKey(std::string_view line)
{
    const std::optional<std::string> bytes
        = Base64(line, 2 + kKeyIdBytes + crypto_sign_PUBLICKEYBYTES);
    if (!bytes || bytes->compare(0, 2, "Ed") != 0)
        return std::nullopt;
    return TPublicKey { bytes->substr(0, 2), bytes->substr(2, kKeyIdBytes),
                        bytes->substr(2 + kKeyIdBytes) };
}

// The file's four lines (LF or CR LF ends, blank lines after them only),
// or why it isn't a signature file.
std::optional<std::string> SplitLines(std::string_view file, std::vector<std::string_view> &lines)
{
    while (!file.empty()) {
        const size_t end = std::min(file.find('\n'), file.size());
        std::string_view line = file.substr(0, end);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        file.remove_prefix(std::min(end + 1, file.size()));
        if (lines.size() < 4)
            lines.push_back(line);
        else if (!line.empty())
            return "it has more than four lines";
    }
    if (lines.size() < 4)
        return "it ends after " + std::to_string(lines.size()) + " of its four lines";
    return std::nullopt;
}

std::optional<std::string> ParseSignatureFile(std::string_view file, TSignatureFile &parsed)
{
    std::vector<std::string_view> lines;
    if (std::optional<std::string> why = SplitLines(file, lines))
        return why;
    if (!lines[0].starts_with(kUntrustedPrefix))
        return "its first line is no untrusted comment";
    const std::optional<std::string> signature
        = Base64(lines[1], 2 + kKeyIdBytes + crypto_sign_BYTES);
    if (!signature)
        return "its second line is no signature";
    parsed.Algorithm = signature->substr(0, 2);
    if (parsed.Algorithm != "Ed" && parsed.Algorithm != "ED")
        return "its signature is of an unknown kind";
    parsed.KeyId = signature->substr(2, kKeyIdBytes);
    parsed.Signature = signature->substr(2 + kKeyIdBytes);
    if (!lines[2].starts_with(kTrustedPrefix))
        return "its third line is no trusted comment";
    parsed.TrustedComment = lines[2].substr(kTrustedPrefix.size());
    const std::optional<std::string> global = Base64(lines[3], crypto_sign_BYTES);
    if (!global)
        return "its fourth line is no signature of its trusted comment";
    parsed.GlobalSignature = *global;
    return std::nullopt;
}

// A key id as minisign shows it: the 64-bit number in hex.
std::string KeyIdText(const std::string &id)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (auto byte = id.rbegin(); byte != id.rend(); ++byte) {
        text += digits[static_cast<unsigned char>(*byte) >> 4];
        text += digits[static_cast<unsigned char>(*byte) & 15];
    }
    return text;
}

bool Verified(const std::string &signature, std::string_view message, const std::string &key)
{
    return crypto_sign_verify_detached(reinterpret_cast<const unsigned char *>(signature.data()),
                                       reinterpret_cast<const unsigned char *>(message.data()),
                                       message.size(),
                                       reinterpret_cast<const unsigned char *>(key.data()))
        == 0;
}

// What the pre-hashed form signs in place of the message.
std::string Blake2b512(std::string_view message)
{
    std::string hash(crypto_generichash_BYTES_MAX, '\0');
    crypto_generichash(reinterpret_cast<unsigned char *>(hash.data()), hash.size(),
                       reinterpret_cast<const unsigned char *>(message.data()), message.size(),
                       nullptr, 0);
    return hash;
}

std::optional<std::int64_t> Timestamp(std::string_view comment)
{
    while (!comment.empty()) {
        const size_t end = std::min(comment.find('\t'), comment.size());
        const std::string_view field = comment.substr(0, end);
        comment.remove_prefix(std::min(end + 1, comment.size()));
        if (!field.starts_with(kTimestampField))
            continue;
        const std::string_view digits = field.substr(kTimestampField.size());
        std::int64_t seconds = 0;
        const auto [last, error] = std::from_chars(digits.begin(), digits.end(), seconds);
        if (!digits.empty() && digits[0] != '-' && error == std::errc() && last == digits.end())
            return seconds;
    }
    return std::nullopt;
}

} // namespace

TSignatureCheck CheckSignature(std::string_view publicKey, std::string_view message,
                               std::string_view signatureFile)
{
    TSignatureCheck check;
    if (sodium_init() < 0) {
        check.Refusal = "can't be checked: the cryptography library couldn't start";
        return check;
    }
    const std::optional<TPublicKey> key = ParsePublicKey(publicKey);
    if (!key) {
        check.Refusal = "can't be checked: the publisher key this TIRMO was built with is no "
                        "minisign public key";
        return check;
    }
    TSignatureFile file;
    if (std::optional<std::string> why = ParseSignatureFile(signatureFile, file)) {
        check.Refusal = "has a damaged signature file (" + *why + ")";
        return check;
    }
    const bool prehashed = file.Algorithm == "ED";
    const std::string hash = prehashed ? Blake2b512(message) : std::string();
    if (file.KeyId != key->KeyId)
        check.Refusal = "is not signed by the publisher of this TIRMO (it is signed with key "
            + KeyIdText(file.KeyId) + ", this TIRMO takes key " + KeyIdText(key->KeyId) + ")";
    else if (!Verified(file.Signature, prehashed ? std::string_view(hash) : message, key->Key))
        check.Refusal
            = "does not match its signature: it was changed after the publisher signed it";
    else if (!Verified(file.GlobalSignature, file.Signature + file.TrustedComment, key->Key))
        check.Refusal = "has a signature whose trusted comment was changed after the publisher "
                        "signed it";
    else if (const std::optional<std::int64_t> seconds = Timestamp(file.TrustedComment))
        check.Timestamp = *seconds;
    else
        check.Refusal = "has a signature without the publisher's timestamp (its trusted comment is "
            + Quoted(file.TrustedComment) + ")";
    if (!check.Refusal)
        check.TrustedComment = file.TrustedComment;
    return check;
}
