#pragma once

#include <functional>
#include <string>

// Files the user can't afford to lose are never rewritten in place: the new
// content goes to a temporary file beside the target, is flushed to disk, and
// then renamed over it. A crash, a kill or a full disk at any moment leaves
// either the old file or the new one, whole.

// Replaces `path` with `bytes`. Throws EFCreateError ("Cannot create file
// <path>") when the temporary file can't be made, EInOutError naming the file
// and the reason when writing or renaming fails; the old file is then kept.
void WriteFileAtomically(const std::string &path, const std::string &bytes);

// Renames `from` over `to` in one step. Throws EInOutError naming both.
void ReplaceFile(const std::string &from, const std::string &to);

// A name for a temporary file beside `path` that no scan of the folder takes
// for one of its files.
std::string TemporaryPathBeside(const std::string &path);

// Tests stop a save between writing and renaming through this hook.
void SetBeforeReplaceHook(std::function<void(const std::string &temporary)> hook);
