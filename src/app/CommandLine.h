#pragma once

// The host's command line: the patient, the host window and the destination directory.

#include "platform/WindowBus.h"

#include <QString>
#include <QStringList>

struct CommandLineValues {
    qint32 PatientNr = 0;                  // 0: no patient given
    platform::WindowHandle HostWindow = 0; // 0: no host window to notify
    QString OutDir;                        // used unchanged; the host ends it with a path delimiter
    QString DpiText;
    QString ZoomText;
    // A PNR= value without a usable number; the arguments after it were not read.
    bool patientNumberInvalid = false;
    // The last HWND= value was no number; HostWindow is then 0.
    bool hostWindowInvalid = false;
};

// Reads the arguments (without the program's own name) from the first to the last. Each is
// tested for the keys "PNR=", "HWND=", "OUTDIR=", "DPI=", "ZOOM=" in this order; the first key
// the argument contains decides, and its value is whatever follows the key's length. A key
// given twice takes the later value; arguments without a key are left to others.
CommandLineValues ParseCommandLine(const QStringList& arguments);

// The arguments of `argv` after the program's own name, before a QCoreApplication exists.
QStringList CommandLineArguments(int argc, char* argv[]);

// The characters 0 to 9 of `text`, in order.
QString DigitsOnly(const QString& text);

// `text` as a 32-bit signed integer: an optional sign and decimal digits, nothing else.
bool StrictToInt32(const QString& text, qint32* value);

// Shown when the PNR= value is unusable; the program then closes at its first activation.
inline const QString kInvalidPatientNumberText =
    QStringLiteral("Invalid parameter!\r\rRestart the application with a valid parameter!");

// Shown when the HWND= value is unusable; the program carries on without a host window.
inline const QString kInvalidHostWindowText = QStringLiteral(
    "Invalid window handle!\r\rThe images are stored, but the journal program is not told about "
    "them. Restart the application from the journal program!");
