#pragma once

// Shared by the fuzz targets. Each target defines LLVMFuzzerTestOneInput (and may define
// LLVMFuzzerInitialize); built with RAVLEK_FUZZ, libFuzzer drives it, otherwise ReplayMain.cpp
// feeds it every file of its corpus.

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace fuzz {

// The input as bytes of its own (the copy ends exactly where the input does).
QByteArray bytesOf(const std::uint8_t* data, std::size_t size);

// Ends the process with `what` when a property that must hold does not: libFuzzer keeps
// the input, and the replay of the corpus fails.
void require(bool condition, const char* what);

// A private folder for the target's files, removed when the process ends; in memory
// (/dev/shm) where there is one, as targets write files at every input.
QString scratchFolder();

// Points every per-user and machine-wide location (hives, data links, bus, simulated
// devices) into the scratch folder, so that a target never touches the user's own files.
void isolateInstallation();

// What a profile file reader gives back for a written value: without the blanks around it
// and without one pair of quotes enclosing it.
QString asReadBack(const QString& value);

// A QCoreApplication for targets that need an event loop or application values.
void ensureApplication();

} // namespace fuzz
