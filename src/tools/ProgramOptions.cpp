#include "tools/ProgramOptions.h"

#include "tools/CEVersionInfo.h"

#include <cstdio>

namespace {

const QString kHelp = QStringLiteral("--help");
const QString kVersion = QStringLiteral("--version");
const QString kOptionLead = QStringLiteral("--");

bool isOption(const QString& argument) {
    return argument.startsWith(kOptionLead) && argument.size() > kOptionLead.size();
}

} // namespace

std::optional<int> HandleProgramOptions(const QStringList& arguments, const TProgramOptions& options,
                                        QTextStream& out, QTextStream& err) {
    for (const QString& argument : arguments.mid(1)) {
        if (!isOption(argument)) {
            if (options.leadingOnly)
                break;
            continue;
        }
        if (argument == kHelp) {
            out << options.usage;
            out.flush();
            return 0;
        }
        if (argument == kVersion) {
            out << ProgramVersionText(options.program) << '\n';
            out.flush();
            return 0;
        }
        if (!options.passOtherOptions && !options.ownOptions.contains(argument)) {
            err << options.program << QStringLiteral(": unknown option \"") << argument
                << QStringLiteral("\" (") << options.program
                << QStringLiteral(" --help lists the options)\n");
            err.flush();
            return kUnknownOptionExitCode;
        }
    }
    return std::nullopt;
}

std::optional<int> HandleProgramOptions(int argc, char** argv, const TProgramOptions& options) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    QTextStream out(stdout);
    QTextStream err(stderr);
    return HandleProgramOptions(arguments, options, out, err);
}

QString ProgramVersionText(const QString& program) {
    return program + QLatin1Char(' ') + TCEVersionInfo().FileVersion;
}
