#pragma once

// Files and folders where the program needs more than QFile and QDir offer: a fast
// listing of large folders, and publishing a file under a name that is never overwritten.

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>

namespace platform {

// Outcome of a file operation; `error` is the errno value of the step that failed.
struct FileResult {
    int error = 0;
    bool ok() const { return error == 0; }
    // The system's own text for the failure (strerror).
    QString errorText() const;
};

// The system's own text for an errno value.
QString systemErrorText(int error);

// The names of every entry of `folder` (files, folders, links, hidden ones too), without
// "." and "..", in the order the file system keeps them. Empty when the folder cannot be read.
QStringList folderEntryNames(const QString& folder);

// Calls `visit` with the name of every entry of `folder` (files, folders, links, hidden
// ones too; not "." and "..") as the file system stores it, UTF-8 on Linux, in the order
// the file system keeps them. One pass, no look at the entries themselves, so that large
// folders are read quickly. False when the folder cannot be read.
bool forEachEntryName(const QString& folder, const std::function<void(QByteArrayView name)>& visit);

// Called with the name of each moment a copy or a publish passes ("temporary-created",
// "mid-copy", "flushed", "linked"), so that a test can stop the process there and look at what
// is left. The program passes none: each moment then costs one test of an empty function.
using StepHook = std::function<void(const char* step)>;

// Creates a new, empty file in `folder` whose name begins with `namePrefix` and ends in
// random characters. On success `path` names it.
FileResult createTemporaryFile(const QString& folder, const QString& namePrefix, QString* path);

// Copies `source` into a new file of `folder` whose name begins with `namePrefix` and ends
// in random characters, and flushes it to the disk. On success `temporaryPath` names it;
// on failure nothing is left behind.
FileResult copyToTemporaryFile(const QString& source, const QString& folder, const QString& namePrefix,
                               QString* temporaryPath, const StepHook& stepReached = {});

// Gives the file `temporaryPath` the name `finalName` and drops the temporary name, in one
// step that never replaces an existing file: EEXIST when `finalName` is taken. Either the
// whole file appears under `finalName` or nothing does.
FileResult publishWithoutReplacing(const QString& temporaryPath, const QString& finalName,
                                   const StepHook& stepReached = {});

// Flushes `temporaryPath` to the disk and renames it to `finalName`, replacing a file of that
// name: a reader finds the old file or the whole new one, never a part.
FileResult replaceWithFile(const QString& temporaryPath, const QString& finalName);

// Removes the regular files of `folder` whose name begins with `namePrefix` and that nobody
// has written to for `minimumAge`: what a process cut off in the middle of its work left
// behind. Files written to more recently may belong to a copy still running elsewhere and
// stay. Returns how many were removed.
int removeStaleFiles(const QString& folder, const QString& namePrefix, std::chrono::seconds minimumAge);

// Removes a file; the result is for callers that care.
FileResult removeFile(const QString& path);

// Writes `content` into the new file `path` (never an existing one: EEXIST) and flushes it to
// the disk. On failure nothing is left behind.
FileResult writeSyncedFile(const QString& path, QByteArrayView content);

// Renames a file or folder (a file of the new name is replaced) and makes the change survive a
// crash: either the old or the new state is found afterwards, a renamed folder with its entries.
FileResult renameSynced(const QString& from, const QString& to);

} // namespace platform
