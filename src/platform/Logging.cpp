#include "platform/Logging.h"

#include "platform/FileVersion.h"
#include "platform/JournalLogSink.h"
#include "platform/RotatingFileLogSink.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <cstdio>
#include <mutex>

#include <unistd.h>

// Detail (debug) is off unless QT_LOGGING_RULES turns it on; information and above are on.
Q_LOGGING_CATEGORY(lcApp, "ravlek.app", QtInfoMsg)
Q_LOGGING_CATEGORY(lcDialog, "ravlek.dialog", QtInfoMsg)
Q_LOGGING_CATEGORY(lcHandOff, "ravlek.handoff", QtInfoMsg)
Q_LOGGING_CATEGORY(lcBus, "ravlek.bus", QtInfoMsg)
Q_LOGGING_CATEGORY(lcDevice, "ravlek.device", QtInfoMsg)
Q_LOGGING_CATEGORY(lcDb, "ravlek.db", QtInfoMsg)
Q_LOGGING_CATEGORY(lcLock, "ravlek.lock", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPacs, "ravlek.pacs", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSound, "ravlek.sound", QtInfoMsg)

namespace platform {

std::unique_ptr<LogSink> LogSink::makeDefault() {
    auto journal = std::make_unique<JournalLogSink>();
    if (journal->connected())
        return journal;
    return std::make_unique<RotatingFileLogSink>();
}

namespace {

const QString kMask = QStringLiteral("****");

// ---- Secrets ----------------------------------------------------------------------------

const QRegularExpression& loginValuePattern() {
    // Longer key names first, so that "User ID" is not taken for "User".
    static const QRegularExpression pattern(
        QStringLiteral(R"((?<![\w])(password|pwd|user\s*id|uid|user\s*name|user)(\s*=\s*))"
                       R"(("(?:[^"]|"")*"|'(?:[^']|'')*'|\{(?:[^}]|\}\})*\}|[^;\r\n]+))"),
        QRegularExpression::CaseInsensitiveOption);
    return pattern;
}

const QRegularExpression& urlLoginPattern() {
    static const QRegularExpression pattern(QStringLiteral(R"(([a-z][a-z0-9+.-]*://)[^:/@\s]+:[^@\s]*@)"),
                                            QRegularExpression::CaseInsensitiveOption);
    return pattern;
}

// A login name that a database's error quotes: `user "ann"`, `role "ann"`, `Login failed for
// user 'ann'`.
const QRegularExpression& quotedLoginPattern() {
    static const QRegularExpression pattern(
        QStringLiteral(R"((?<![\w])((?:user|role|login)\s+)(["'])(?:(?!\2)[^\r\n])*\2)"),
        QRegularExpression::CaseInsensitiveOption);
    return pattern;
}

// The login name that our own connect failure names: "... med användarnamnet ann".
const QRegularExpression& namedLoginPattern() {
    static const QRegularExpression pattern(QStringLiteral(R"((användarnamnet\s+)[^\r\n]+)"),
                                            QRegularExpression::CaseInsensitiveOption);
    return pattern;
}

// ---- The handler ------------------------------------------------------------------------

struct HandlerState {
    std::mutex mutex;
    QString program;
    qint64 processId = 0;
    bool copyToStandardError = false;
    QtMessageHandler previous = nullptr;
};

HandlerState& handlerState() {
    static HandlerState state;
    return state;
}

// Set while this thread is in the handler: a message logged from inside the sink goes
// straight to the standard error stream instead of looping back.
thread_local bool tl_inHandler = false;

void writeToStandardError(const QByteArray& line) {
    std::fwrite(line.constData(), 1, std::size_t(line.size()), stderr);
    std::fflush(stderr);
}

void handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    HandlerState& state = handlerState();
    LogRecord record;
    record.type = type;
    record.category = QString::fromUtf8(context.category ? context.category : "default");
    record.message = MaskSecrets(message);
    record.time = QDateTime::currentDateTime();
    record.file = QString::fromUtf8(context.file);
    record.line = context.line;
    record.function = QString::fromUtf8(context.function);
    if (tl_inHandler) {
        writeToStandardError(RotatingFileLogSink::line(record));
        return;
    }
    tl_inHandler = true;
    {
        std::lock_guard lock(state.mutex);
        record.program = state.program;
        record.processId = state.processId;
        const bool stored = logSink().write(record);
        if (!stored || state.copyToStandardError)
            writeToStandardError(RotatingFileLogSink::line(record));
    }
    tl_inHandler = false;
}

// "ravlek 3.10.0.0 started from /usr/bin/ravlek with: PNR=4711 ...".
QString startLine(const QString& program, const QStringList& arguments) {
    FileVersionReader& reader = fileVersionReader();
    const QString file = reader.ownProgramFile();
    const auto strings = reader.versionStrings(file);
    const QString version = strings ? strings->value(QStringLiteral("FileVersion")) : QString();
    return QStringLiteral("%1 %2 started from %3 with %4")
        .arg(program, version.isEmpty() ? QStringLiteral("(no version)") : version, file,
             arguments.isEmpty() ? QStringLiteral("no arguments")
                                 : QStringLiteral("arguments: ") + arguments.join(QLatin1Char(' ')));
}

} // namespace

QString MaskSecrets(const QString& text) {
    QString masked = text;
    masked.replace(loginValuePattern(), QStringLiteral("\\1\\2") + kMask);
    masked.replace(urlLoginPattern(),
                   QStringLiteral("\\1") + kMask + QLatin1Char(':') + kMask + QLatin1Char('@'));
    masked.replace(quotedLoginPattern(), QStringLiteral("\\1\\2") + kMask + QStringLiteral("\\2"));
    masked.replace(namedLoginPattern(), QStringLiteral("\\1") + kMask);
    return masked;
}

LogHandlerScope::LogHandlerScope(const QString& program, const QStringList& arguments)
    : m_program(program) {
    HandlerState& state = handlerState();
    {
        std::lock_guard lock(state.mutex);
        state.program = program;
        state.processId = ::getpid();
        state.copyToStandardError =
            ::isatty(STDERR_FILENO) == 1 || qEnvironmentVariableIntValue("QT_FORCE_STDERR_LOGGING") == 1;
        // The sink is chosen now, not at the first message of some other thread.
        logSink();
    }
    state.previous = qInstallMessageHandler(handleMessage);
    qCInfo(lcApp).noquote() << startLine(program, arguments);
}

LogHandlerScope::~LogHandlerScope() {
    if (m_exitCode)
        qCInfo(lcApp).noquote()
            << QStringLiteral("%1 ended with exit code %2").arg(m_program).arg(*m_exitCode);
    else
        qCInfo(lcApp).noquote() << m_program + QStringLiteral(" ended");
    qInstallMessageHandler(handlerState().previous);
}

} // namespace platform
