#pragma once

// ravlek-reg: reads and writes the registry with the commands and arguments of the
// Windows `reg` tool (query, add, delete, export, import). docs/registry.md shows its use.

#include <QString>
#include <QStringList>
#include <QTextStream>
#include <functional>

struct RegToolConsole {
    QTextStream& out; // results and "The operation completed successfully."
    QTextStream& err; // "ERROR: ..." lines
    // Asks a Yes/No question before something is overwritten or deleted without /f (or
    // /y); true to go ahead.
    std::function<bool(const QString& question)> confirm;
};

// Runs one command given by the arguments after the program's name; returns the exit
// code, 0 on success and 1 on failure.
int RunRegTool(const QStringList& arguments, RegToolConsole& console);

// The usage text of `ravlek-reg /?`.
QString RegToolUsage();
