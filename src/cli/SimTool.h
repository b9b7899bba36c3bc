#pragma once

// ravlek-sim: lists, configures and exposes the simulated scanner devices.

#include <QStringList>
#include <QTextStream>

// Exit codes of ravlek-sim.
namespace SimToolExit {
inline constexpr int Done = 0;
inline constexpr int Failed = 1;   // a file of the simulator could not be read or written
inline constexpr int Usage = 2;    // unknown command or wrong arguments
inline constexpr int NoDevice = 3; // no device with that type number or address
inline constexpr int Refused = 4;  // the device's state does not allow it (not open, not armed, ...)
inline constexpr int TimedOut = 5; // expose --wait saw no result in time
} // namespace SimToolExit

// Runs one command; `arguments` exclude the program name. The "hold" command runs the
// application's event loop until the process is ended, so it needs a QCoreApplication.
int RunSimTool(const QStringList& arguments, QTextStream& out, QTextStream& err);

QString SimToolUsage();
