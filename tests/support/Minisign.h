#pragma once

#include <QStringList>
#include <QTemporaryDir>

#include <string>

// A minisign key pair made for one run by minisign itself (-G, no
// password), in a temporary folder that goes with the object, and
// signatures made with it by minisign. A minisign that fails throws
// std::runtime_error with what it said.
class TMinisign {
public:
    TMinisign();

    // The base64 line of the public key, as TIRMO_UPDATE_KEY takes it.
    const std::string &PublicKey() const { return m_publicKey; }
    const std::string &SecretKeyPath() const { return m_secretKey; }

    // Writes `file`.minisig; `options` are more options of minisign -S
    // ("-l" for the legacy form, "-t" COMMENT for a trusted comment).
    void SignFile(const std::string &file, const QStringList &options = {}) const;
    // The signature file minisign writes for `message`.
    std::string Sign(const std::string &message, const QStringList &options = {}) const;

private:
    QTemporaryDir m_dir;
    std::string m_secretKey, m_publicKey;
};
