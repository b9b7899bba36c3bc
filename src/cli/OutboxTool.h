#pragma once

// ravlek-outbox: lists the images waiting for the PACS and sends them from the command line, for
// a timer when the program itself is not running.

#include <QStringList>
#include <QTextStream>

namespace OutboxToolExit {
inline constexpr int Done = 0;
inline constexpr int Failed = 1; // the PACS could not be reached or refused, or images remain
inline constexpr int Usage = 2;
inline constexpr int Busy = 3; // another program is sending the outbox now
} // namespace OutboxToolExit

// The text of --help.
QString OutboxToolUsage();

// Runs one command; `arguments` exclude the program name.
int RunOutboxTool(const QStringList& arguments, QTextStream& out, QTextStream& err);
