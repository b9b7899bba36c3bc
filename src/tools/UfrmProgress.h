#pragma once

// The progress display shown while the program does something slow.

#include <QString>

void StartProgress(const QString& caption, const QString& status, bool onlyIfKnown = false);
void EndProgress(bool force);
