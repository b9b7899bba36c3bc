#pragma once

#include "platform/Paths.h"

namespace platform {

// $XDG_RUNTIME_DIR without a trailing delimiter, or empty when it is unset, empty or relative
// (the XDG rules say a relative path is to be ignored). The runtime folder and the window
// bus both go by it, so that every program of a session meets on the same bus.
QString xdgRuntimeDirectory();

// The folders of a Linux installation (the full table is in docs/configuration.md).
//
// Per-user folders follow the XDG base directories; everything machine-wide lives under
// KELVO_MACHINE_DIR. Every value is looked up afresh on each call, so a test or a second
// installation that changes the environment variables moves the folders at once.
class LinuxPaths : public Paths {
public:
    QString currentDirectory() override;
    QString executableDirectory() override;
    QString userConfigDirectory() override;
    QString userDataDirectory() override;
    QString userStateDirectory() override;
    QString runtimeDirectory() override;
    QString machineDirectory() override;
    QString openKeysDirectory() override;
    QString simulatorDirectory() override;
    QString windowsDirectory() override;
    QString systemDirectory() override;
    QString specialFolder(int folderId) override;
};

} // namespace platform
