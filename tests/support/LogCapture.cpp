#include "LogCapture.h"

#include <QCoreApplication>
#include <QFile>

namespace {

QLoggingCategory::CategoryFilter previousFilter = nullptr;

void informationOn(QLoggingCategory* category) {
    // Null while installFilter runs this on the categories there are: they have been filtered.
    if (previousFilter)
        previousFilter(category);
    if (qstrncmp(category->categoryName(), "ravlek.", 7) == 0) {
        for (const QtMsgType type : {QtInfoMsg, QtWarningMsg, QtCriticalMsg})
            category->setEnabled(type, true);
    }
}

} // namespace

LogCapture::LogCapture()
    : m_sink(m_dir.filePath(QStringLiteral("ravlek.log")))
    , m_port(m_sink)
    , m_scope(QCoreApplication::applicationName(), {}) {
    previousFilter = QLoggingCategory::installFilter(informationOn);
}

LogCapture::~LogCapture() {
    QLoggingCategory::installFilter(previousFilter);
}

QStringList LogCapture::lines() const {
    QFile file(m_sink.destination());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines;
    for (const QByteArray& line : file.readAll().split('\n')) {
        // "<time> <program>[<pid>] <level> <category>: <text>"
        if (!line.isEmpty())
            lines.append(QString::fromUtf8(line).section(QLatin1Char(' '), 2));
    }
    return lines;
}

QStringList LogCapture::lines(const QString& category) const {
    QStringList found;
    for (const QString& line : lines())
        if (line.section(QLatin1Char(' '), 1, 1) == category + QLatin1Char(':'))
            found.append(line);
    return found;
}

QString LogCapture::asLogged(QString text) {
    text.replace(QLatin1Char('\r'), QStringLiteral("\\r"));
    text.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    return text;
}
