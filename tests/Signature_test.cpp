#include "updater/Signature.h"

#include "tests/support/Minisign.h"

#include <QDateTime>
#include <gtest/gtest.h>

namespace {

const TMinisign &Publisher()
{
    static const TMinisign publisher;
    return publisher;
}

const std::string kManifest = std::string("Main;0.2\r\nA.cdl;12-ab\0\xff;x\r\n", 25);

std::string Replaced(std::string text, const std::string &from, const std::string &to)
{
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

} // namespace

TEST(Signature, MinisignsSignaturesAreTakenInBothForms)
{
    const std::int64_t now = QDateTime::currentSecsSinceEpoch();
    for (const QStringList &form : { QStringList {}, QStringList { "-l" } }) {
        const std::string signature = Publisher().Sign(kManifest, form);
        const TSignatureCheck check = CheckSignature(Publisher().PublicKey(), kManifest, signature);
        ASSERT_FALSE(check.Refusal) << *check.Refusal;
        EXPECT_NEAR(double(check.Timestamp), double(now), 300);
        EXPECT_NE(signature.find("trusted comment: " + check.TrustedComment + "\n"),
                  std::string::npos);

        // Line ends turned into CR LF on the way change nothing that is signed.
        std::string crlf;
        for (char c : signature)
            crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        EXPECT_FALSE(CheckSignature(Publisher().PublicKey(), kManifest, crlf).Refusal);
    }
}

TEST(Signature, TimestampIsAFieldOfTheTrustedComment)
{
    struct Case {
        std::string comment;
        std::int64_t timestamp;
    } cases[] = {
        { "timestamp:1700000000", 1700000000 },
        { "file:version.ini\ttimestamp:42\thashed", 42 },
        { "timestamp:x\ttimestamp:7", 7 },
    };
    for (const Case &c : cases) {
        const std::string signature
            = Publisher().Sign(kManifest, { "-t", QString::fromStdString(c.comment) });
        const TSignatureCheck check = CheckSignature(Publisher().PublicKey(), kManifest, signature);
        ASSERT_FALSE(check.Refusal) << *check.Refusal;
        EXPECT_EQ(check.Timestamp, c.timestamp) << c.comment;
        EXPECT_EQ(check.TrustedComment, c.comment);
    }
    for (const char *comment : { "file:version.ini", "timestamp:", "timestamp:-5", "timestamp:12s",
                                 "timestamp:99999999999999999999", "my timestamp:5" }) {
        const std::string signature = Publisher().Sign(kManifest, { "-t", comment });
        const TSignatureCheck check = CheckSignature(Publisher().PublicKey(), kManifest, signature);
        ASSERT_TRUE(check.Refusal) << comment;
        EXPECT_NE(check.Refusal->find("without the publisher's timestamp"), std::string::npos)
            << *check.Refusal;
    }
}

TEST(Signature, RefusesWhatThePublisherDidNotSign)
{
    const TMinisign other;
    const std::string &key = Publisher().PublicKey();
    for (const QStringList &form : { QStringList {}, QStringList { "-l" } }) {
        const std::string signature = Publisher().Sign(kManifest, form);
        const size_t comment = signature.find("\ntrusted comment: ") + 18;
        const size_t line2 = signature.find('\n') + 1;
        const std::string older = Publisher().Sign("Main;0.1\r\n", { "-t", "timestamp:1" });
        std::string oneByte = kManifest;
        oneByte[7] ^= 1;
        struct Case {
            const char *what;
            std::string key, message, signature, reason;
        } cases[] = {
            { "another key", key, kManifest, other.Sign(kManifest, form),
              "is not signed by the publisher of this TIRMO" },
            { "another key's public key", other.PublicKey(), kManifest, signature,
              "is not signed by the publisher of this TIRMO" },
            { "one byte changed", key, oneByte, signature,
              "changed after the publisher signed it" },
            { "one byte more", key, kManifest + "\n", signature,
              "changed after the publisher signed it" },
            { "empty message", key, "", signature, "changed after the publisher signed it" },
            { "the other form's algorithm", key, kManifest,
              form.isEmpty() ? Replaced(signature, "\nRU", "\nRW")
                             : Replaced(signature, "\nRW", "\nRU"),
              "changed after the publisher signed it" },
            { "trusted comment changed", key, kManifest,
              std::string(signature).insert(comment + 10, "9"), "trusted comment was changed" },
            { "trusted comment of another signature", key, kManifest,
              signature.substr(0, comment) + older.substr(older.find("\ntrusted comment: ") + 18),
              "trusted comment was changed" },
            { "no untrusted comment", key, kManifest, signature.substr(line2),
              "damaged signature file" },
            { "an error page", key, kManifest, "<html><body>404 Not Found</body></html>\n",
              "damaged signature file" },
            { "empty", key, kManifest, "", "damaged signature file" },
            { "a line more", key, kManifest, signature + "x\n", "damaged signature file" },
            { "base64 with a blank", key, kManifest, Replaced(signature, "\nR", "\n R"),
              "damaged signature file" },
            { "no key", "", kManifest, signature, "built with is no minisign public key" },
            { "a signature line as key",
              signature.substr(line2, signature.find('\n', line2) - line2), kManifest, signature,
              "built with is no minisign public key" },
        };
        for (const Case &c : cases) {
            const TSignatureCheck check = CheckSignature(c.key, c.message, c.signature);
            ASSERT_TRUE(check.Refusal) << c.what;
            EXPECT_NE(check.Refusal->find(c.reason), std::string::npos)
                << c.what << ": " << *check.Refusal;
            EXPECT_EQ(check.Timestamp, 0) << c.what;
        }

        // Cut anywhere but its last line end, the file is refused.
        for (size_t length = 0; length + 1 < signature.size(); ++length)
            EXPECT_TRUE(CheckSignature(key, kManifest, signature.substr(0, length)).Refusal)
                << length;
    }
}
