#pragma once

// A scripted peer (tests/servers/sock_peer.py) for the socket component's
// tests, and their fixture: a component on 127.0.0.1 with a time-out.

#include "net/Psock.h"

#include "tests/support/TestSupport.h"

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <string>

inline QString Hex(const std::string &bytes)
{
    return QString::fromLatin1(QByteArray::fromStdString(bytes).toHex());
}

inline QString Send(const std::string &bytes)
{
    return "send:" + Hex(bytes);
}

// Serves one connection as the actions say.
class Peer {
public:
    explicit Peer(const QStringList &actions, bool record = false)
    {
        QStringList args { QStringLiteral(TIRMO_TEST_DIR "/servers/sock_peer.py") };
        if (record) {
            m_record = m_dir.filePath("received");
            args << "--record" << m_record;
        }
        args << actions;
        m_process.start(TIRMO_PYTHON, args);
        if (m_process.waitForReadyRead(10000))
            port = m_process.readLine().trimmed().toInt();
    }
    ~Peer()
    {
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(1000);
    }

    // Waits until the peer has received `size` bytes. The component's first
    // socket resets on close, dropping what is still unsent, so a test lets
    // the bytes arrive before it disconnects.
    bool WaitReceived(std::size_t size)
    {
        return QTest::qWaitFor(
            [&] { return ReadFileBytes(m_record.toStdString()).size() >= size; });
    }

    // What the peer received, once it has ended.
    std::string Received()
    {
        m_process.waitForFinished(10000);
        return ReadFileBytes(m_record.toStdString());
    }

    int port = 0;

private:
    QTemporaryDir m_dir;
    QString m_record;
    QProcess m_process;
};

class SockTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sock.Host = "127.0.0.1";
        sock.TimeOut = 5000; // no test hangs on a fault
    }

    void ConnectTo(int port)
    {
        sock.Port = port;
        sock.Connect();
        ASSERT_TRUE(sock.Connected);
    }

    template<typename E = ESockError, typename F> std::string ErrorOf(F f)
    {
        try {
            f();
        } catch (const E &e) {
            return e.what();
        }
        return "(nothing raised)";
    }

    TPowersock sock;
    QTemporaryDir dir;
};
