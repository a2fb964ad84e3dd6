#include "updater/HashingDevice.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace {

std::string Sha256(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().toStdString();
}

} // namespace

// Whatever the pieces, the target gets every byte and the digest is that of
// the whole; one past the bound's size included.
TEST(HashingDevice, PassesOnAndHashesEveryByte)
{
    QByteArray data;
    for (int i = 0; data.size() < THashingDevice::kMaxQueued + 3; ++i)
        data += QByteArray::number(i) + ' ';
    for (const qsizetype piece : { qsizetype(4093), qsizetype(1 << 20), data.size() }) {
        SCOPED_TRACE(piece);
        QBuffer target;
        target.open(QIODevice::WriteOnly);
        THashingDevice device(target);
        for (qsizetype at = 0; at < data.size(); at += piece)
            ASSERT_EQ(device.write(data.constData() + at, std::min(piece, data.size() - at)),
                      std::min(piece, data.size() - at));
        EXPECT_EQ(device.Sha256(), Sha256(data));
        EXPECT_EQ(device.Written(), data.size());
        EXPECT_EQ(target.data(), data);
    }
}

// A write the target refuses is refused here, and nothing of it is hashed.
TEST(HashingDevice, ARefusedWriteIsNotHashed)
{
    QBuffer closed;
    THashingDevice device(closed);
    EXPECT_EQ(device.write("abc", 3), -1);
    EXPECT_EQ(device.Written(), 0);
    EXPECT_EQ(device.Sha256(), Sha256({}));
}

// A server faster than the hash: with the hashing held up, the writer waits
// once kMaxQueued bytes are queued, rather than queueing all it gets.
TEST(HashingDevice, TheQueueIsBounded)
{
    const QByteArray chunk(64 << 10, 'q');
    const int chunks = 256; // 16 MiB
    std::atomic<bool> written { false };
    qsizetype mostQueued = 0;
    QBuffer target;
    target.open(QIODevice::WriteOnly);
    THashingDevice *watched = nullptr;
    THashingDevice device(target, [&] {
        // Until the writer is held back (or has written everything).
        while (!written && watched->HeldBack() == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        mostQueued = std::max(mostQueued, watched->QueuedBytes());
    });
    watched = &device;
    std::thread writer([&] {
        for (int i = 0; i < chunks; ++i)
            device.write(chunk);
        written = true;
    });
    writer.join();
    const std::string digest = device.Sha256();
    EXPECT_GT(device.HeldBack(), 0);
    EXPECT_LE(mostQueued, THashingDevice::kMaxQueued);
    EXPECT_EQ(digest, Sha256(target.data()));
    EXPECT_EQ(device.Written(), qint64(chunks) * chunk.size());
}
