#include "updater/HashingDevice.h"

THashingDevice::THashingDevice(QIODevice &target, std::function<void()> beforeHashing)
    : m_target(target), m_beforeHashing(std::move(beforeHashing))
{
    open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

THashingDevice::~THashingDevice()
{
    EndHashing();
}

std::string THashingDevice::Sha256()
{
    EndHashing();
    return m_hash.result().toHex().toStdString();
}

qsizetype THashingDevice::QueuedBytes()
{
    std::lock_guard lock(m_mutex);
    return m_queuedBytes;
}

int THashingDevice::HeldBack()
{
    std::lock_guard lock(m_mutex);
    return m_heldBack;
}

qint64 THashingDevice::writeData(const char *data, qint64 size)
{
    const qint64 n = m_target.write(data, size);
    if (n > 0) {
        Queue(QByteArray(data, n));
        m_written += n;
    }
    return n;
}

void THashingDevice::EndHashing()
{
    {
        std::lock_guard lock(m_mutex);
        m_ended = true;
    }
    m_changed.notify_all();
    if (m_hasher.joinable())
        m_hasher.join();
}

void THashingDevice::Queue(QByteArray bytes)
{
    std::unique_lock lock(m_mutex);
    if (m_queuedBytes >= kMaxQueued)
        ++m_heldBack;
    m_changed.wait(lock, [this] { return m_queuedBytes < kMaxQueued; });
    m_queuedBytes += bytes.size();
    m_queue.push_back(std::move(bytes));
    lock.unlock();
    m_changed.notify_all();
}

void THashingDevice::HashQueued()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_ended || !m_queue.empty(); });
        if (m_queue.empty())
            return;
        if (m_beforeHashing) {
            lock.unlock();
            m_beforeHashing();
            lock.lock();
        }
        std::vector<QByteArray> chunks;
        chunks.swap(m_queue);
        lock.unlock();
        for (const QByteArray &chunk : chunks)
            m_hash.addData(chunk);
        lock.lock();
        for (const QByteArray &chunk : chunks)
            m_queuedBytes -= chunk.size();
        m_changed.notify_all();
    }
}
