// Replacing files whole through a temporary file, and removing the
// temporary files that a killed save left (see AtomicFile.h).

#include "platform/AtomicFile.h"

#include "platform/Exceptions.h"

#include <QIODevice>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::function<void(const std::string &)> g_beforeReplace;

const char kPrefix[] = ".tirmo-";
const char kSuffix[] = ".tmp";
const char kLegacyCopySuffix[] = ".cdltmp";
constexpr size_t kHexDigits = 12;
// As many links as the kernel follows in one path.
constexpr int kMaxLinks = 40;

std::string Reason(int error)
{
    return std::strerror(error);
}

std::string FolderOf(const std::string &path)
{
    const std::string folder = std::filesystem::path(path).parent_path().string();
    return folder.empty() ? "." : folder;
}

std::string RandomHex()
{
    static std::mt19937_64 random { std::random_device {}() };
    char hex[kHexDigits + 1];
    std::snprintf(hex, sizeof hex, "%012llx",
                  static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
    return hex;
}

std::string TemporaryName()
{
    return kPrefix + RandomHex() + kSuffix;
}

bool IsLowerHex(const std::string &text, size_t at)
{
    if (at + kHexDigits > text.size())
        return false;
    for (size_t i = at; i < at + kHexDigits; ++i)
        if (!((text[i] >= '0' && text[i] <= '9') || (text[i] >= 'a' && text[i] <= 'f')))
            return false;
    return true;
}

bool EndsWith(const std::string &text, const std::string &end)
{
    return text.size() >= end.size()
        && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The file that writing `path` writes: symbolic links at its end followed,
// as open() would. A link to nothing gives the file it would create.
std::string ThroughLinks(const std::string &path)
{
    std::filesystem::path current = path;
    for (int i = 0; i < kMaxLinks; ++i) {
        struct stat st { };
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return current.string();
        std::error_code error;
        const std::filesystem::path target = std::filesystem::read_symlink(current, error);
        if (error)
            return current.string();
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    throw EFCreateError("Cannot create file " + path + ": " + Reason(ELOOP));
}

// Writes everything or reports errno; a short write is retried.
bool WriteAll(int fd, const char *data, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        done += size_t(n);
    }
    return true;
}

// Flushes a folder's entries. File systems that can't sync a folder say so
// with EINVAL; they have nothing more to flush.
int SyncFolder(int folder)
{
    if (::fsync(folder) == 0 || errno == EINVAL || errno == ENOTSUP)
        return 0;
    return errno;
}

// Writes to the temporary file; the first error is kept for Finish().
class TFileDevice : public QIODevice {
public:
    explicit TFileDevice(int fd) : m_fd(fd) { open(QIODevice::WriteOnly | QIODevice::Unbuffered); }

    int Error() const { return m_error; }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        if (m_error == 0 && WriteAll(m_fd, data, size_t(size)))
            return size;
        if (m_error == 0)
            m_error = errno;
        setErrorString(QString::fromLocal8Bit(std::strerror(m_error)));
        return -1;
    }

private:
    int m_fd;
    int m_error = 0;
};

} // namespace

struct TAtomicFile::State {
    std::string path; // as given
    std::string target; // the file replaced, links followed
    std::string temporary;
    int folder = -1;
    int fd = -1;
    int lock = -1; // holds the flock from creation to commit
    bool finished = false;
    std::unique_ptr<TFileDevice> device;

    ~State()
    {
        device.reset();
        for (int f : { fd, lock, folder })
            if (f >= 0)
                ::close(f);
    }

    [[noreturn]] void Fail(const std::string &what, int error) const
    {
        throw EInOutError(what + " " + path + ": " + Reason(error));
    }
};

TAtomicFile::TAtomicFile(const std::string &path) : m_state(std::make_unique<State>())
{
    State &s = *m_state;
    s.path = path;
    s.target = ThroughLinks(path);
    const std::string folder = FolderOf(s.target);
    s.folder = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (s.folder < 0)
        throw EFCreateError("Cannot create file " + path + ": " + Reason(errno));
    for (int attempt = 0; s.fd < 0; ++attempt) {
        const std::string name = TemporaryName();
        s.fd = ::openat(s.folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (s.fd >= 0)
            s.temporary = folder + "/" + name;
        else if (errno != EEXIST || attempt == 100)
            throw EFCreateError("Cannot create file " + path + ": " + Reason(errno));
    }
    ::flock(s.fd, LOCK_EX | LOCK_NB);
    s.lock = ::dup(s.fd);
    struct stat old { };
    if (::stat(s.target.c_str(), &old) == 0) {
        if (::fchmod(s.fd, old.st_mode & 07777) != 0) {
            const int error = errno;
            Discard();
            throw EFCreateError("Cannot create file " + path + ": " + Reason(error));
        }
        // Only the owner's own or a privileged process may give a file away.
        [[maybe_unused]] const int ignored = ::fchown(s.fd, old.st_uid, old.st_gid);
    }
    s.device = std::make_unique<TFileDevice>(s.fd);
}

TAtomicFile::~TAtomicFile()
{
    if (m_state)
        Discard();
}

TAtomicFile::TAtomicFile(TAtomicFile &&) noexcept = default;
TAtomicFile &TAtomicFile::operator=(TAtomicFile &&other) noexcept
{
    if (this != &other) {
        if (m_state)
            Discard();
        m_state = std::move(other.m_state);
    }
    return *this;
}

const std::string &TAtomicFile::Path() const
{
    return m_state->path;
}

const std::string &TAtomicFile::TemporaryPath() const
{
    return m_state->temporary;
}

QIODevice &TAtomicFile::Device()
{
    return *m_state->device;
}

void TAtomicFile::Write(const std::string &bytes)
{
    if (Device().write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size()))
        m_state->Fail("Cannot write file", m_state->device->Error());
}

void TAtomicFile::Finish()
{
    State &s = *m_state;
    if (s.finished)
        return;
    s.finished = true;
    int error = s.device->Error();
    s.device->close();
    if (error == 0 && ::fsync(s.fd) != 0)
        error = errno;
    if (::close(s.fd) != 0 && error == 0)
        error = errno;
    s.fd = -1;
    if (error != 0) {
        Discard();
        s.Fail("Cannot write file", error);
    }
}

void TAtomicFile::Commit()
{
    Finish();
    State &s = *m_state;
    if (s.temporary.empty())
        s.Fail("Cannot replace file", ENOENT); // discarded
    if (const int error = SyncFolder(s.folder)) {
        Discard();
        s.Fail("Cannot write file", error);
    }
    if (g_beforeReplace)
        g_beforeReplace(s.temporary);
    if (std::rename(s.temporary.c_str(), s.target.c_str()) != 0) {
        const int error = errno;
        Discard();
        s.Fail("Cannot replace file", error);
    }
    s.temporary.clear();
    if (const int error = SyncFolder(s.folder))
        s.Fail("Cannot write file", error);
}

void TAtomicFile::Discard()
{
    State &s = *m_state;
    if (!s.temporary.empty())
        ::unlink(s.temporary.c_str());
    s.temporary.clear();
    s.device.reset();
    for (int *f : { &s.fd, &s.lock }) {
        if (*f >= 0)
            ::close(*f);
        *f = -1;
    }
    s.finished = true;
}

void WriteFileAtomically(const std::string &path, const std::string &bytes)
{
    TAtomicFile file(path);
    file.Write(bytes);
    file.Commit();
}

bool IsTemporaryFileName(const std::string &name)
{
    const size_t prefix = sizeof kPrefix - 1, suffix = sizeof kSuffix - 1;
    if (name.size() == prefix + kHexDigits + suffix)
        if (name.compare(0, prefix, kPrefix) == 0 && IsLowerHex(name, prefix)
            && EndsWith(name, kSuffix))
            return true;
    // "<database>tmp", the copy earlier versions made of a database to load it
    const size_t copySuffix = sizeof kLegacyCopySuffix - 1;
    return name.size() > copySuffix
        && ::strcasecmp(name.c_str() + name.size() - copySuffix, kLegacyCopySuffix) == 0;
}

void RemoveTemporaryFiles(const std::string &folder)
{
    DIR *dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    const int dirFd = ::dirfd(dir);
    while (const dirent *entry = ::readdir(dir)) {
        if (!IsTemporaryFileName(entry->d_name))
            continue;
        // A link or a folder of such a name isn't ours, nor is a file that a
        // save holds.
        const int fd
            = ::openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat st { };
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(dirFd, entry->d_name, 0);
        ::close(fd);
    }
    ::closedir(dir);
}

void ReplaceFile(const std::string &from, const std::string &to)
{
    if (std::rename(from.c_str(), to.c_str()) != 0)
        throw EInOutError("Cannot replace file " + to + " with " + from + ": " + Reason(errno));
    const int folder = ::open(FolderOf(to).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        SyncFolder(folder);
        ::close(folder);
    }
}

void SetBeforeReplaceHook(std::function<void(const std::string &temporary)> hook)
{
    g_beforeReplace = std::move(hook);
}
