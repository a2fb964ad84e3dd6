#pragma once

#include <functional>
#include <memory>
#include <string>

class QIODevice;

// Files the user can't afford to lose are never rewritten in place: the new
// content goes to a temporary file in the target's folder, is flushed to
// disk, and then renamed over it. A crash, a kill or a full disk at any
// moment leaves either the old file or the new one, whole.
//
// The temporary file is named ".tirmo-<12 hex digits>.tmp" whatever the
// target is called, so a target whose name uses all the bytes the file
// system allows can still be written. While it is written it holds an
// exclusive flock(), so that RemoveTemporaryFiles of another running copy of
// the program leaves it alone.
//
// A target that is a symbolic link is written through: the link stays and
// the file it names (in that file's folder) is replaced. The replacement gets
// the permission bits (and, where allowed, the owner) of the file it
// replaces; a new file gets 0666 less the umask.

// One atomic replacement of a file, written in pieces. Nothing at the target
// changes until Commit(); an object destroyed (or Discard()ed) before that
// removes its temporary file.
class TAtomicFile {
public:
    // Creates the temporary file for `path`. Throws EFCreateError "Cannot
    // create file <path>: <reason>" when it can't be made.
    explicit TAtomicFile(const std::string &path);
    ~TAtomicFile();
    TAtomicFile(TAtomicFile &&) noexcept;
    TAtomicFile &operator=(TAtomicFile &&) noexcept;
    TAtomicFile(const TAtomicFile &) = delete;
    TAtomicFile &operator=(const TAtomicFile &) = delete;

    // The target as given, and the temporary file's path.
    const std::string &Path() const;
    const std::string &TemporaryPath() const;

    // A write-only sequential device onto the temporary file, open until
    // Finish(). A write it refuses returns -1; Finish() then throws.
    QIODevice &Device();

    // Appends bytes. Throws EInOutError "Cannot write file <path>: <reason>".
    void Write(const std::string &bytes);

    // Ends writing: the data is flushed to disk and the file closed, each
    // checked. Throws EInOutError "Cannot write file <path>: <reason>" for
    // any write that failed on the way. Called by Commit() when not yet done;
    // doing it earlier lets a caller finish several files before it commits
    // any of them.
    void Finish();

    // Puts the new content in place: finishes, flushes the folder entry,
    // renames over the target and flushes the folder again. Throws
    // EInOutError naming the file and the reason; the old file is then kept
    // (when only the last flush failed, the new one already stands).
    void Commit();

    // Removes the temporary file now; the target is untouched.
    void Discard();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// Replaces `path` with `bytes` through a TAtomicFile.
void WriteFileAtomically(const std::string &path, const std::string &bytes);

// True for the names of the temporary files above, and for "<name>.cdltmp" in
// any letter case (the copy of a database being loaded that earlier versions
// left beside the databases, named as the databases are found).
bool IsTemporaryFileName(const std::string &name);

// Removes the temporary files that a killed or crashed save left in
// `folder`: regular files of a name that IsTemporaryFileName takes which no
// running save holds. No other file is touched, and a folder that can't be
// read is passed over.
void RemoveTemporaryFiles(const std::string &folder);

// Renames `from` over `to` in one step and flushes the folder. Throws
// EInOutError naming both.
void ReplaceFile(const std::string &from, const std::string &to);

// Tests stop a save between writing and renaming through this hook.
void SetBeforeReplaceHook(std::function<void(const std::string &temporary)> hook);
