#pragma once

#include "platform/Paths.h"

namespace platform {

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
    QString simulatorDirectory() override;
    QString windowsDirectory() override;
    QString systemDirectory() override;
    QString specialFolder(int folderId) override;
};

} // namespace platform
