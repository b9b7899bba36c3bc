#pragma once

// The options every program of ours answers, read from the raw command line before anything
// else happens, so that no window opens and no display is needed: --help (usage on standard
// output), --version (the version its own file carries) and, for any other option, one line on
// standard error and exit code 2. docs/command-line.md gives the rules.

#include <QString>
#include <QStringList>
#include <QTextStream>

#include <optional>

struct TProgramOptions {
    // The program's name, as the user types it.
    QString program;
    // The text --help prints.
    QString usage;
    // For programs whose commands have options of their own: only the arguments before the first
    // one that is no option are options.
    bool leadingOnly = false;
    // Options other than --help and --version are not refused but left to the program.
    bool passOtherOptions = false;
    // Options of the program's own, left to it.
    QStringList ownOptions = {};
};

inline constexpr int kUnknownOptionExitCode = 2;

// Handles the options in `arguments` (the program's own name first). Returns the exit code when
// the program has nothing more to do, std::nullopt when it goes on.
std::optional<int> HandleProgramOptions(const QStringList& arguments, const TProgramOptions& options,
                                        QTextStream& out, QTextStream& err);
// The same for main()'s arguments, with standard output and standard error.
std::optional<int> HandleProgramOptions(int argc, char** argv, const TProgramOptions& options);

// What --version prints: the program's name and the FileVersion of its own file.
QString ProgramVersionText(const QString& program);
