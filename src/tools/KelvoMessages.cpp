#include "tools/KelvoMessages.h"

#include "database/DatabaseLinks.h"
#include "platform/FileSystem.h"
#include "platform/Workstation.h"
#include "tools/KelvoProgress.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStyle>
#include <QWidget>

using platform::DialogButton;
using platform::DialogKind;
using platform::DialogRequest;

namespace {

constexpr int kCustomStyleExtraWidth = 10;

DialogButton showMessage(DialogKind kind, const QString& text,
                         QList<DialogButton> buttons = {DialogButton::Ok},
                         DialogButton defaultButton = DialogButton::Ok) {
    EndProgress(true);
    DialogRequest request;
    request.kind = kind;
    request.text = text;
    request.buttons = std::move(buttons);
    request.defaultButton = defaultButton;
    return platform::dialogs().show(request);
}

// Windows file-name matching: "*" any run of characters, "?" one character, letter case
// ignored; every other character stands for itself.
bool wildcardMatch(QStringView name, QStringView pattern) {
    qsizetype n = 0;
    qsizetype p = 0;
    qsizetype starAt = -1;
    qsizetype starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() &&
            (pattern[p] == QLatin1Char('?') || pattern[p].toCaseFolded() == name[n].toCaseFolded())) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == QLatin1Char('*')) {
            starAt = p++;
            starName = n;
        } else if (starAt >= 0) {
            p = starAt + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == QLatin1Char('*'))
        ++p;
    return p == pattern.size();
}

// The two rules Windows keeps from DOS: "name.*" also finds "name" without extension, and a
// pattern ending in "." finds only names without extension.
bool matchesFilePattern(const QString& name, const QString& pattern) {
    if (wildcardMatch(name, pattern))
        return true;
    if (pattern.endsWith(QStringLiteral(".*")))
        return !name.contains(QLatin1Char('.')) && wildcardMatch(name, QStringView(pattern).chopped(2));
    if (pattern.endsWith(QLatin1Char('.')))
        return !name.contains(QLatin1Char('.')) && wildcardMatch(name, QStringView(pattern).chopped(1));
    return false;
}

QString joined(const QString& folder, const QString& name) {
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

struct ScanFailure {
    QString text;
};

class FileWalk {
public:
    FileWalk(const QString& pattern, QStringList& found)
        : m_pattern(pattern)
        , m_found(found) {}

    void walk(const QString& folder) {
        // A link back to a folder being walked would otherwise lead round in a circle.
        const QString identity = QFileInfo(folder).canonicalFilePath();
        if (m_walking.contains(identity))
            return;
        m_walking.insert(identity);
        walkEntries(folder, entriesOf(folder));
        m_walking.remove(identity);
    }

private:
    // The names in `folder` in the order the file system keeps them. A missing folder simply
    // holds nothing; one that exists but cannot be read ends the search.
    static QStringList entriesOf(const QString& folder) {
        QStringList names;
        const bool read = platform::forEachEntryName(
            folder, [&names](QByteArrayView name) { names.append(QFile::decodeName(name.toByteArray())); });
        if (!read && QFileInfo(folder).isDir())
            throw ScanFailure{QStringLiteral("Mappen \"%1\" kan inte läsas").arg(folder)};
        return names;
    }

    void walkEntries(const QString& folder, const QStringList& names) {
        for (const QString& name : names) {
            const QString path = joined(folder, name);
            if (QFileInfo(path).isDir()) {
                walk(path);
            } else if (m_pattern.isEmpty()) {
                m_found.append(path);
            } else if (addMatches(folder, names)) {
                return;
            }
        }
    }

    bool addMatches(const QString& folder, const QStringList& names) {
        bool any = false;
        for (const QString& name : names) {
            if (matchesFilePattern(name, m_pattern)) {
                m_found.append(joined(folder, name));
                any = true;
            }
        }
        return any;
    }

    const QString m_pattern;
    QStringList& m_found;
    QSet<QString> m_walking;
};

} // namespace

void InformationMessage(const QString& text) {
    QString shown = text;
    const bool replaced = ReplaceLostUpdateReport(shown);
    showMessage(replaced ? DialogKind::Warning : DialogKind::Information, shown);
}

void FailureMessage(const QString& text) {
    QString shown = text;
    ReplaceLostUpdateReport(shown);
    showMessage(DialogKind::Warning, shown);
}

void ErrorMessage(const QString& text) {
    QString shown = text;
    ReplaceLostUpdateReport(shown);
    showMessage(DialogKind::Error, shown);
}

void NoticeMessage(const QString& text) {
    showMessage(DialogKind::Information, text);
}

bool ConfirmMessage(const QString& text) {
    return showMessage(DialogKind::Confirmation, text, {DialogButton::Yes, DialogButton::No},
                       DialogButton::Yes) == DialogButton::Yes;
}

// The windows prepared here hold no date pickers and no data grids, so the display formats
// and grid options that such components would get have nothing to apply to.
void PrepareForm(QWidget* form) {
    if (!form || !qobject_cast<QApplication*>(QCoreApplication::instance()))
        return;
    if (QApplication::style()->name().compare(QStringLiteral("windows"), Qt::CaseInsensitive) == 0)
        return;
    // Custom styles draw wider frames and buttons than the windows were laid out for.
    const int width = form->width() + kCustomStyleExtraWidth;
    if (form->minimumWidth() == form->maximumWidth())
        form->setFixedWidth(width);
    else
        form->resize(width, form->height());
}

QString GetWorkstationName() {
    platform::Workstation& workstation = platform::workstation();
    if (!workstation.isRemoteSession())
        return workstation.computerName();

    QString announcedError;
    const QString announced = workstation.announcedClientName(&announcedError).trimmed();
    if (!announced.isEmpty())
        return announced;
    QString addressError;
    const QString fromAddress = workstation.addressClientName(&addressError).trimmed();
    if (fromAddress.isEmpty() && !announcedError.isEmpty() && !addressError.isEmpty()) {
        ErrorMessage(QStringLiteral("Det gick inte att hämta datornamnet i fjärrsessionen!") +
                     QStringLiteral("\r\r") + QStringLiteral("Citrix: ") + announcedError +
                     QStringLiteral("\r") + QStringLiteral("TerminalServer: ") + addressError);
        return {};
    }
    return fromAddress;
}

QStringList FindFiles(const QString& folder, const QString& pattern) {
    QStringList found;
    QString start = folder;
    while (start.size() > 1 && start.endsWith(QLatin1Char('/')))
        start.chop(1);
    try {
        FileWalk(pattern, found).walk(start);
    } catch (const ScanFailure& failure) {
        ErrorMessage(QStringLiteral("Det gick inte att skanna efter filer!") + QStringLiteral("\r\r") +
                     failure.text);
    }
    return found;
}

void ShowUnhandledFailure(const std::exception& failure) {
    platform::DialogRequest request;
    request.kind = platform::DialogKind::Error;
    request.text = FailureText(failure);
    platform::dialogs().show(request);
}
