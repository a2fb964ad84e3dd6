#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QIODevice>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A write-only device that passes a download on to its file and hashes it
// on the way, so that checking it against its SHA-256 digest costs no
// second read of the file.
//
// Built for speed: the hashing runs on a thread of its own, while the next
// bytes are still on the network and while the file is flushed, so checking
// adds next to nothing to an update's time. The figure it holds up is
// update_with_digests of `scripts/bench.sh` (bench/update_check: an update
// checked against its digests, against the same update unchecked). The
// file's writer checks every write, its flush and its close, so what is
// hashed is what the file holds.
class THashingDevice : public QIODevice {
public:
    // Holds the writer back while this much waits to be hashed, so a server
    // faster than the hash can't fill the memory.
    static constexpr qsizetype kMaxQueued = 4 << 20;

    // `beforeHashing`, for tests, runs on the hashing thread before each
    // batch of queued bytes is hashed.
    explicit THashingDevice(QIODevice &target, std::function<void()> beforeHashing = {});
    ~THashingDevice() override;

    bool isSequential() const override { return true; }
    std::int64_t Written() const { return m_written; }

    // Waits for the hashing of everything written; the digest in lower-case hex.
    std::string Sha256();

    // What the queue holds now, and how often a write had to wait for it:
    // tests watch the bound through these.
    qsizetype QueuedBytes();
    int HeldBack();

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override;

private:
    void EndHashing();
    void Queue(QByteArray bytes);
    void HashQueued();

    QIODevice &m_target;
    std::function<void()> m_beforeHashing;
    std::int64_t m_written = 0;
    QCryptographicHash m_hash { QCryptographicHash::Sha256 };
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<QByteArray> m_queue;
    qsizetype m_queuedBytes = 0;
    int m_heldBack = 0;
    bool m_ended = false;
    std::thread m_hasher { [this] { HashQueued(); } }; // last: it uses the others
};
