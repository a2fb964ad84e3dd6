#pragma once

#include "platform/Exceptions.h"

#include <cstdint>
#include <string>

class EStreamError : public Exception {
public:
    using Exception::Exception;
};

class EReadError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

class EWriteError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

// The framework's byte streams: a position, a size, reads and writes at the
// position. Short reads are normal at the end; ReadBuffer/WriteBuffer raise
// when not everything could be moved.
class TStream {
public:
    enum TSeekOrigin { soBeginning, soCurrent, soEnd };

    virtual ~TStream() = default;

    // Moves up to count bytes; returns how many were moved.
    virtual int64_t Read(void *buffer, int64_t count) = 0;
    virtual int64_t Write(const void *buffer, int64_t count) = 0;
    // Returns the new position.
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

    int64_t Position() { return Seek(0, soCurrent); }
    void SetPosition(int64_t position) { Seek(position, soBeginning); }
    int64_t Size();

    void ReadBuffer(void *buffer, int64_t count);
    void WriteBuffer(const void *buffer, int64_t count);
    void WriteString(const std::string &bytes) { WriteBuffer(bytes.data(), int64_t(bytes.size())); }
};

// A stream over bytes held in memory.
class TMemoryStream : public TStream {
public:
    int64_t Read(void *buffer, int64_t count) override;
    int64_t Write(const void *buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;

    const std::string &Bytes() const { return m_bytes; }
    void SetSize(int64_t size);
    void Clear();

private:
    std::string m_bytes;
    int64_t m_position = 0;
};

// A stream over a file. fmCreate creates or truncates; the open modes need
// an existing file. Failures name the file.
class TFileStream : public TStream {
public:
    enum TMode { fmCreate, fmOpenRead, fmOpenWrite, fmOpenReadWrite };

    TFileStream(const std::string &fileName, TMode mode);
    ~TFileStream() override;
    TFileStream(const TFileStream &) = delete;
    TFileStream &operator=(const TFileStream &) = delete;

    int64_t Read(void *buffer, int64_t count) override;
    int64_t Write(const void *buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;

    const std::string &FileName() const { return m_fileName; }

private:
    std::string m_fileName;
    int m_fd = -1;
};
