#include "platform/AtomicFile.h"

#include "platform/Exceptions.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <unistd.h>

namespace {

std::function<void(const std::string &)> g_beforeReplace;

std::string Reason(int error)
{
    return std::strerror(error);
}

// Writes everything or reports errno; a short write is retried.
bool WriteAll(int fd, const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
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

void SyncFolderOf(const std::string &path)
{
    const std::string folder = std::filesystem::path(path).parent_path().string();
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

std::string TemporaryPathBeside(const std::string &path)
{
    static std::mt19937_64 random{std::random_device{}()};
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%012llx.part",
                  static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
    return path + suffix;
}

void WriteFileAtomically(const std::string &path, const std::string &bytes)
{
    const std::string temporary = TemporaryPathBeside(path);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        throw EFCreateError("Cannot create file " + path);
    const bool written = WriteAll(fd, bytes) && ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    if (!written) {
        ::unlink(temporary.c_str());
        throw EInOutError("Cannot write file " + path + ": " + Reason(error));
    }
    if (g_beforeReplace)
        g_beforeReplace(temporary);
    try {
        ReplaceFile(temporary, path);
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
}

void ReplaceFile(const std::string &from, const std::string &to)
{
    if (std::rename(from.c_str(), to.c_str()) != 0)
        throw EInOutError("Cannot replace file " + to + " with " + from + ": " + Reason(errno));
    SyncFolderOf(to);
}

void SetBeforeReplaceHook(std::function<void(const std::string &temporary)> hook)
{
    g_beforeReplace = std::move(hook);
}
