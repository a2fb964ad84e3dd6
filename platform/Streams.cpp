#include "platform/Streams.h"

#include "platform/Exceptions.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

int64_t TStream::Size()
{
    const int64_t position = Position();
    const int64_t size = Seek(0, soEnd);
    Seek(position, soBeginning);
    return size;
}

void TStream::ReadBuffer(void *buffer, int64_t count)
{
    if (Read(buffer, count) != count)
        throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void *buffer, int64_t count)
{
    if (Write(buffer, count) != count)
        throw EWriteError("Stream write error");
}

int64_t TMemoryStream::Read(void *buffer, int64_t count)
{
    const int64_t size = int64_t(m_bytes.size());
    const int64_t n = std::max<int64_t>(0, std::min(count, size - m_position));
    if (n > 0)
        std::memcpy(buffer, m_bytes.data() + m_position, size_t(n));
    m_position += n;
    return n;
}

int64_t TMemoryStream::Write(const void *buffer, int64_t count)
{
    if (count <= 0)
        return 0;
    const size_t end = size_t(m_position + count);
    if (end > m_bytes.size())
        m_bytes.resize(end);
    std::memcpy(m_bytes.data() + m_position, buffer, size_t(count));
    m_position += count;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin)
{
    const int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? m_position
                                                                          : int64_t(m_bytes.size());
    // Past the end is allowed, as for files: a write there fills the gap with zeros.
    m_position = std::max<int64_t>(0, base + offset);
    return m_position;
}

void TMemoryStream::SetSize(int64_t size)
{
    m_bytes.resize(size_t(std::max<int64_t>(0, size)));
    m_position = std::min(m_position, int64_t(m_bytes.size()));
}

void TMemoryStream::Clear()
{
    m_bytes.clear();
    m_position = 0;
}

namespace {

std::string Reason()
{
    return std::strerror(errno);
}

} // namespace

TFileStream::TFileStream(const std::string &fileName, TMode mode) : m_fileName(fileName)
{
    switch (mode) {
    case fmCreate:
        m_fd = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (m_fd < 0)
            throw EFCreateError("Cannot create file \"" + fileName + "\": " + Reason());
        return;
    case fmOpenRead:
        m_fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
        break;
    case fmOpenWrite:
        m_fd = ::open(fileName.c_str(), O_WRONLY | O_CLOEXEC);
        break;
    case fmOpenReadWrite:
        m_fd = ::open(fileName.c_str(), O_RDWR | O_CLOEXEC);
        break;
    }
    if (m_fd < 0)
        throw EFOpenError("Cannot open file \"" + fileName + "\": " + Reason());
}

TFileStream::~TFileStream()
{
    ::close(m_fd);
}

int64_t TFileStream::Read(void *buffer, int64_t count)
{
    int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(m_fd, static_cast<char *>(buffer) + done, size_t(count - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw EReadError("Cannot read file \"" + m_fileName + "\": " + Reason());
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

int64_t TFileStream::Write(const void *buffer, int64_t count)
{
    int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(m_fd, static_cast<const char *>(buffer) + done, size_t(count - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw EWriteError("Cannot write file \"" + m_fileName + "\": " + Reason());
        done += n;
    }
    return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin)
{
    const int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
    const off_t at = ::lseek(m_fd, off_t(offset), whence);
    if (at < 0)
        throw EInOutError("Cannot seek in file \"" + m_fileName + "\": " + Reason());
    return at;
}
