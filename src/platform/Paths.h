#pragma once

#include "platform/Port.h"

#include <QString>

namespace platform {

// Shell special folder numbers that the program asks for, and a few more that mean
// something on Linux (docs/configuration.md lists where each one lives).
namespace ShellFolder {
constexpr int Desktop = 0;
constexpr int Personal = 5;
constexpr int AppData = 26;
constexpr int LocalAppData = 28;
constexpr int CommonAppData = 35;
constexpr int Windows = 36;
constexpr int System = 37;
constexpr int ProgramFiles = 38;
constexpr int Profile = 40;
constexpr int CommonProgramFiles = 43;
} // namespace ShellFolder

// Where things live on this computer. Every folder is returned without a trailing
// delimiter and can be moved by an environment variable (docs/configuration.md).
class Paths {
public:
    virtual ~Paths() = default;

    virtual QString currentDirectory() = 0; // empty when it cannot be obtained
    virtual QString executableDirectory() = 0;
    virtual QString userConfigDirectory() = 0; // XDG_CONFIG_HOME
    virtual QString userDataDirectory() = 0;   // XDG_DATA_HOME
    virtual QString userStateDirectory() = 0;  // XDG_STATE_HOME
    virtual QString runtimeDirectory() = 0;    // XDG_RUNTIME_DIR, or a private folder in /tmp
    virtual QString machineDirectory() = 0;    // KELVO_MACHINE_DIR, default /etc/kelvo
    // The machine hive's keys open to every user: KELVO_OPEN_KEYS_DIR, by default beside
    // the machine folder when KELVO_MACHINE_DIR is given, else /var/lib/kelvo/open-keys.
    virtual QString openKeysDirectory() = 0;
    virtual QString simulatorDirectory() = 0; // KELVO_SIM_DIR
    virtual QString windowsDirectory() = 0;
    virtual QString systemDirectory() = 0;
    // A shell special folder by its number (26 per-user application data, 35 common
    // application data, 38 program files, 43 common program files, ...); empty when unknown.
    virtual QString specialFolder(int folderId) = 0;

    static std::unique_ptr<Paths> makeDefault();
};

inline Paths& paths() {
    return Port<Paths>::instance();
}

} // namespace platform
