// The command line the host (or a user) starts ravlek with. The input holds the arguments as
// /proc/<pid>/cmdline lists them: each one ended by a NUL byte, the program's name first.

#include "FuzzSupport.h"

#include "app/CommandLine.h"
#include "app/SettingsJob.h"
#include "tools/KelvoEnvironment.h"
#include "tools/ProgramOptions.h"

#include <QStringList>

#include <limits>

namespace {

QStringList argumentsOf(const QByteArray& bytes) {
    QStringList arguments;
    for (const QByteArray& piece : bytes.split('\0'))
        arguments.append(QString::fromLocal8Bit(piece));
    if (bytes.endsWith('\0'))
        arguments.removeLast(); // the terminator of the last argument starts no new one
    return arguments;
}

// A plain sign-and-decimal-digits text within 32 bits, read by other means.
bool plainInt32(const QString& text, qint32* value) {
    const qsizetype start = text.startsWith(QLatin1Char('+')) || text.startsWith(QLatin1Char('-')) ? 1 : 0;
    if (start == text.size())
        return false;
    for (qsizetype i = start; i < text.size(); ++i) {
        if (text.at(i) < QLatin1Char('0') || text.at(i) > QLatin1Char('9'))
            return false;
    }
    // Leading zeros do not count towards the length that could overflow.
    QString digits = text.mid(start);
    while (digits.size() > 1 && digits.startsWith(QLatin1Char('0')))
        digits.remove(0, 1);
    if (digits.size() > 10)
        return false;
    bool ok = false;
    const qint64 number = (text.startsWith(QLatin1Char('-')) ? -1 : 1) * digits.toLongLong(&ok);
    if (!ok || number < std::numeric_limits<qint32>::min() || number > std::numeric_limits<qint32>::max())
        return false;
    *value = qint32(number);
    return true;
}

void checkNumberReading(const QString& text) {
    qint32 strict = 0;
    qint32 plain = 0;
    const bool strictOk = StrictToInt32(text, &strict);
    fuzz::require(strictOk == plainInt32(text, &plain), "StrictToInt32 takes exactly sign and digits");
    fuzz::require(!strictOk || strict == plain, "StrictToInt32 reads the number's value");
    const QString digits = DigitsOnly(text);
    for (const QChar c : digits)
        fuzz::require(c >= QLatin1Char('0') && c <= QLatin1Char('9'), "DigitsOnly keeps digits only");
}

// The options ravlek answers before anything else: --help and --version end the start with 0,
// any other option than --settings with 2 and a message naming it.
void checkProgramOptions(const QStringList& arguments) {
    QString out;
    QString err;
    QTextStream outStream(&out);
    QTextStream errStream(&err);
    const std::optional<int> exitCode = HandleProgramOptions(arguments,
                                                             {.program = QStringLiteral("ravlek"),
                                                              .usage = QStringLiteral("usage"),
                                                              .ownOptions = {kSettingsSwitch}},
                                                             outStream, errStream);
    const QStringList given = arguments.mid(1);
    const bool asked =
        given.contains(QStringLiteral("--help")) || given.contains(QStringLiteral("--version"));
    if (!exitCode) {
        fuzz::require(!asked && out.isEmpty() && err.isEmpty(), "a start that goes on prints nothing");
        return;
    }
    fuzz::require(*exitCode == 0 || *exitCode == kUnknownOptionExitCode, "an option ends with 0 or 2");
    fuzz::require(*exitCode != 0 || (asked && !out.isEmpty() && err.isEmpty()),
                  "only --help and --version end with 0");
    fuzz::require(*exitCode == 0 ||
                      (out.isEmpty() && err.startsWith(QStringLiteral("ravlek: unknown option \"")) &&
                       err.endsWith(QLatin1Char('\n'))),
                  "an unknown option is named on standard error");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::ensureApplication();
    fuzz::isolateInstallation();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QStringList arguments = argumentsOf(fuzz::bytesOf(data, size));
    checkProgramOptions(arguments);
    const CommandLineValues values = ParseCommandLine(arguments.mid(1));
    // Only digits are taken from the patient number, so it can never name a folder above OutDir.
    fuzz::require(values.PatientNr >= 0, "the patient number is never negative");
    fuzz::require(!values.hostWindowInvalid || values.HostWindow == 0, "an unusable HWND= gives no window");
    for (const QString& argument : arguments) {
        checkNumberReading(argument);
        const qsizetype equals = argument.indexOf(QLatin1Char('='));
        if (equals >= 0)
            checkNumberReading(argument.mid(equals + 1));
    }

    // The environment set-up reads the same arguments for a data-link file and NOLOGIN=1.
    InitApplicationEnvironment(arguments);
    return 0;
}
