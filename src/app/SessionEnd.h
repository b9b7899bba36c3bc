#pragma once

// The end of the program asked for from outside: a logout, a shutdown, `kill`, Ctrl+C.

#include "platform/TerminationRequests.h"

#include <memory>

class QWidget;

// From now on, a request to end the program closes `mainWindow` the way its Close button does
// (its close steps run: the device closed, the locks given up, the host told). Modal windows
// open at that moment are closed first, as their own close buttons would close them, so that
// the main window closes with nothing running above it. The requests are watched while the
// returned object lives; nothing when they cannot be.
std::unique_ptr<platform::TerminationWatch> CloseOnTerminationRequest(QWidget& mainWindow);

// Closes the open modal windows, top-most first, and then `mainWindow` once their loops have
// returned.
void CloseAfterModalWindows(QWidget* mainWindow);
