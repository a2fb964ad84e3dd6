#include "platform/TextFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Reads start small and double up to kReadBlock: a caller that wants only
// the first line (the catalogue's scan, at most 259 characters) neither pulls
// in 64 KiB per file nor closes up the CRs of lines it never reads.
constexpr size_t kFirstBlock = 512;
constexpr size_t kReadBlock = size_t(64) * 1024;
constexpr char kCtrlZ = 26;

// What a file that is not a regular one is instead, in the words of the
// system's own error texts.
const char *NotRegular(mode_t mode)
{
    if (S_ISDIR(mode))
        return "Is a directory";
    if (S_ISFIFO(mode))
        return "Is a named pipe, not a file";
    if (S_ISSOCK(mode))
        return "Is a socket, not a file";
    return "Is a device, not a file";
}

} // namespace

int OpenRegularFile(const std::string &path, int flags, std::string &why)
{
    const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    struct stat st { };
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        why = std::strerror(error);
        errno = error;
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        why = NotRegular(st.st_mode);
        errno = S_ISDIR(st.st_mode) ? EISDIR : ENXIO;
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool TTextFile::Open(const std::string &path, const char *mode)
{
    Close();
    const std::string_view m(mode);
    if (m.empty() || (m[0] != 'r' && m[0] != 'w'))
        return false;
    m_text = m.find('b') == std::string_view::npos;
    m_openFailure.clear();
    if (m[0] == 'r') {
        const int fd = OpenRegularFile(path, O_RDONLY, m_openFailure);
        m_file = fd < 0 ? nullptr : ::fdopen(fd, "rb");
        if (fd >= 0 && !m_file)
            ::close(fd);
    } else {
        m_file = std::fopen(path.c_str(), "wb"); // a folder is refused with EISDIR
    }
    if (!m_file && m_openFailure.empty())
        m_openFailure = std::strerror(errno);
    // Reads go straight into our own blocks: a stream buffer would only be
    // one more copy, and one more allocation for every file opened.
    if (m_file && m[0] == 'r')
        std::setvbuf(m_file, nullptr, _IONBF, 0);
    m_error = false;
    m_ended = false;
    m_pos = m_len = 0;
    m_block = kFirstBlock;
    return m_file != nullptr;
}

bool TTextFile::Close()
{
    if (!m_file)
        return true;
    const bool ok = std::fclose(m_file) == 0 && !m_error;
    m_file = nullptr;
    m_buffer.clear();
    m_buffer.shrink_to_fit();
    return ok;
}

namespace {

// Closes up the CRs in data[0, size); the new size.
size_t DropCRs(char *data, size_t size)
{
    char *cr = static_cast<char *>(std::memchr(data, '\r', size));
    if (!cr)
        return size;
    char *out = cr;
    const char *const end = data + size;
    for (const char *in = cr + 1;; ++in) {
        const char *next = static_cast<const char *>(std::memchr(in, '\r', size_t(end - in)));
        const char *stop = next ? next : end;
        std::memmove(out, in, size_t(stop - in));
        out += stop - in;
        if (!next)
            return size_t(out - data);
        in = next;
    }
}

} // namespace

// Reads the next block; in text mode drops CRs and stops for good at Ctrl-Z.
bool TTextFile::Fill()
{
    m_pos = m_len = 0;
    while (!m_ended && m_len == 0) {
        m_buffer.resize(m_block);
        const size_t got = std::fread(m_buffer.data(), 1, m_block, m_file);
        const bool shortRead = got < m_block;
        m_block = std::min(2 * m_block, kReadBlock);
        if (shortRead) {
            m_ended = true;
            m_error = m_error || std::ferror(m_file);
        }
        if (!m_text) {
            m_len = got;
            break;
        }
        char *const data = m_buffer.data();
        size_t end = got;
        if (const void *z = std::memchr(data, kCtrlZ, got)) {
            end = size_t(static_cast<const char *>(z) - data);
            m_ended = true;
        }
        m_len = DropCRs(data, end);
    }
    return m_len > 0;
}

bool TTextFile::ReadLine(std::string &line, int size)
{
    line.clear();
    if (!m_file || size < 2)
        return false;
    size_t room = size_t(size) - 1;
    while (room > 0) {
        if (m_pos == m_len && !Fill())
            break;
        const char *start = m_buffer.data() + m_pos;
        const size_t span = std::min(room, m_len - m_pos);
        const void *lf = std::memchr(start, '\n', span);
        const size_t take = lf ? size_t(static_cast<const char *>(lf) - start) + 1 : span;
        line.append(start, take);
        m_pos += take;
        room -= take;
        if (lf)
            break;
    }
    return !line.empty();
}

bool TTextFile::Write(std::string_view text)
{
    if (!m_file)
        return false;
    bool ok = true;
    while (!text.empty()) {
        const size_t lf = m_text ? text.find('\n') : std::string_view::npos;
        const std::string_view piece = text.substr(0, lf);
        ok = ok && std::fwrite(piece.data(), 1, piece.size(), m_file) == piece.size();
        if (lf == std::string_view::npos)
            break;
        ok = ok && std::fwrite("\r\n", 1, 2, m_file) == 2;
        text.remove_prefix(lf + 1);
    }
    m_error = m_error || !ok;
    return ok;
}
