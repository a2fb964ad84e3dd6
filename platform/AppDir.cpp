#include "platform/AppDir.h"

#include "platform/AtomicFile.h"
#include "platform/Exceptions.h"

#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

bool IsFolder(const fs::path &path)
{
    std::error_code error;
    return fs::is_directory(path, error);
}

// $XDG_DATA_HOME, or ~/.local/share when it is unset or not absolute.
std::string UserDataHome()
{
    const char *xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/')
        return xdg;
    const char *home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.local/share";
}

std::string ReadWhole(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw EFOpenError("Cannot open file " + path.string() + ": " + std::strerror(errno));
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw EInOutError("Cannot read file " + path.string());
    return bytes;
}

// Copies the files of `from` that `to` lacks, among version.ini, cdl/*.cdl
// and, with `ticks`, cdl/data/*.dat. A name taken in `to`, even by a link
// that leads nowhere, is kept.
void CopyMissing(const fs::path &from, const fs::path &to, bool ticks)
{
    std::vector<fs::path> names { "version.ini" };
    for (const char *folder : { "cdl", "cdl/data" }) {
        const bool isData = std::strcmp(folder, "cdl/data") == 0;
        if (isData && !ticks)
            continue;
        std::error_code error;
        for (const fs::directory_entry &entry : fs::directory_iterator(from / folder, error))
            if (entry.path().extension() == (isData ? ".dat" : ".cdl") && entry.is_regular_file())
                names.push_back(fs::path(folder) / entry.path().filename());
    }
    for (const fs::path &name : names) {
        std::error_code error;
        if (fs::exists(fs::symlink_status(to / name, error)) || !fs::exists(from / name, error))
            continue;
        WriteFileAtomically((to / name).string(), ReadWhole(from / name));
    }
}

// Why the program can't write `folder`, or empty.
std::string WriteProblem(const fs::path &folder)
{
    std::error_code error;
    fs::create_directories(folder, error);
    if (error)
        return "Cannot create folder " + folder.string() + ": " + error.message();
    // As the process is allowed, not as its real user.
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        return "Cannot write folder " + folder.string() + ": " + std::strerror(errno);
    return {};
}

} // namespace

std::string ExecutableDir()
{
    return QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString();
}

TAppLayout FindAppLayout(const std::string &executableDir)
{
    const fs::path dir(executableDir);
    if (IsFolder(dir / "cdl") || dir.filename() != "bin")
        return { executableDir, {}, {} };
    const fs::path prefix = dir.parent_path();
    if (!IsFolder(prefix / "share/tirmo/cdl"))
        return { executableDir, {}, {} };
    return { UserDataHome() + "/tirmo", (prefix / "share/tirmo").string(),
             (prefix / "lib/tirmo").string() };
}

std::string SetUpAppDir(const TAppLayout &layout, std::string &problem)
{
    problem.clear();
    if (layout.ShippedDir.empty())
        return layout.AppDir;
    const fs::path user(layout.AppDir);
    std::error_code error;
    const bool isNew = !fs::exists(fs::symlink_status(user, error));
    std::string reason;
    for (const fs::path &folder : { user, user / "cdl", user / "cdl/data" })
        if (reason.empty())
            reason = WriteProblem(folder);
    if (reason.empty()) {
        try {
            if (isNew && IsFolder(fs::path(layout.EarlierDir) / "cdl"))
                CopyMissing(layout.EarlierDir, user, true);
            CopyMissing(layout.ShippedDir, user, false);
        } catch (const std::exception &e) {
            reason = e.what();
        }
    }
    if (reason.empty())
        return layout.AppDir;
    // A folder of the user's that holds databases is theirs to see, even
    // when it can't be written.
    const bool useShipped = !IsFolder(user / "cdl");
    problem = "TIRMO keeps your ticks and the updated game databases in " + layout.AppDir
        + ", but that folder can't be set up.\n\n" + reason + "\n\n"
        + (useShipped ? "The game databases installed with TIRMO are shown from "
                   + layout.ShippedDir + ", read-only: ticks and updates can't be saved."
                      : "Until it can be written, ticks and updates may not be saved.");
    return useShipped ? layout.ShippedDir : layout.AppDir;
}
