#pragma once

// The update tests' world: a temporary application folder and update site,
// the site served by a real HTTP server on a free loopback port. Header
// only: it takes TIRMO_TEST_DIR and TIRMO_PYTHON from the test that uses it.

#include "tests/support/Minisign.h"
#include "tests/support/TestSupport.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

class UpdateSiteTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = std::make_unique<QTemporaryDir>();
        ASSERT_TRUE(m_dir->isValid());
        app = m_dir->filePath("app").toStdString();
        site = m_dir->filePath("site").toStdString();
        std::filesystem::create_directories(app + "/cdl/data");
        std::filesystem::create_directories(site + "/tirmo/cdl");
        ShownMessageBoxes().clear();
    }

    void TearDown() override
    {
        if (m_server.state() != QProcess::NotRunning) {
            m_server.kill();
            m_server.waitForFinished(5000);
        }
    }

    void Local(const std::string &name, const std::string &bytes)
    {
        WriteFileBytes(app + "/" + name, bytes);
    }
    void Site(const std::string &name, const std::string &bytes)
    {
        WriteFileBytes(site + "/tirmo/" + name, bytes);
    }
    std::string LocalBytes(const std::string &name) { return ReadFileBytes(app + "/" + name); }
    bool LocalExists(const std::string &name) { return std::filesystem::exists(app + "/" + name); }

    // Starts the site server with the given faults; its address, or empty
    // (with a failure) when it did not start.
    std::string StartSite(const QStringList &faults = {})
    {
        m_server.setProgram(TIRMO_PYTHON);
        m_server.setArguments(QStringList { QString(TIRMO_TEST_DIR "/servers/update_site.py"),
                                            QString::fromStdString(site) }
                              + faults);
        m_server.start();
        if (!m_server.waitForReadyRead(10000)) {
            ADD_FAILURE() << "site server did not start";
            return {};
        }
        return Address(m_server.readLine().trimmed().toInt());
    }

    // Serves the site with python3's own web server, as a publisher does.
    std::string StartPythonsWebServer()
    {
        m_server.start(TIRMO_PYTHON,
                       { "-u", "-m", "http.server", "0", "--bind", "127.0.0.1", "--directory",
                         QString::fromStdString(site) });
        if (!m_server.waitForReadyRead(10000)) {
            ADD_FAILURE() << "web server did not start";
            return {};
        }
        // "Serving HTTP on 127.0.0.1 port 12345 (http://...) ..."
        const QString line = QString::fromUtf8(m_server.readLine());
        return Address(line.section(" port ", 1).section(' ', 0, 0).toInt());
    }

    std::vector<std::string> Requests()
    {
        std::vector<std::string> lines;
        std::string log = ReadFileBytes(m_dir->filePath("requests.log").toStdString());
        for (size_t at; (at = log.find('\n')) != std::string::npos; log.erase(0, at + 1))
            lines.push_back(log.substr(0, at));
        return lines;
    }

    std::vector<std::string> FilesIn(const std::string &folder)
    {
        std::vector<std::string> files;
        for (const auto &entry : std::filesystem::directory_iterator(folder))
            files.push_back(entry.path().filename().string());
        std::sort(files.begin(), files.end());
        return files;
    }
    std::vector<std::string> CdlFiles() { return FilesIn(app + "/cdl"); }
    std::vector<std::string> AppFiles() { return FilesIn(app); }

    std::string app, site;

private:
    static std::string Address(int port)
    {
        if (port <= 0) {
            ADD_FAILURE() << "no port from the server";
            return {};
        }
        return "http://127.0.0.1:" + std::to_string(port);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    QProcess m_server;
};

inline std::string Sha256(const std::string &bytes)
{
    return QCryptographicHash::hash(QByteArray::fromStdString(bytes), QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

// A manifest line that promises `bytes`.
inline std::string DigestLine(const std::string &name, const std::string &bytes)
{
    return name + ";" + std::to_string(bytes.size()) + "-" + Sha256(bytes);
}

// The publisher of the signed sites: one key pair for the test run.
inline const TMinisign &Publisher()
{
    static const TMinisign publisher;
    return publisher;
}

// version.ini on the site, signed by the publisher with this timestamp.
inline void SignedSite(const std::string &site, const std::string &manifest, std::int64_t timestamp,
                       const TMinisign &signer = Publisher())
{
    WriteFileBytes(site + "/tirmo/version.ini", manifest);
    signer.SignFile(site + "/tirmo/version.ini",
                    { "-t", QString("timestamp:%1\tfile:version.ini").arg(timestamp) });
}
