#include "cli/OutboxTool.h"

#include "pacs/DicomImage.h"
#include "pacs/PacsOutbox.h"
#include "pacs/PacsSender.h"
#include "pacs/PacsSettings.h"
#include "tools/KelvoEnvironment.h"

#include <exception>

namespace {

const QString kUsage = QStringLiteral(
    "Usage: ravlek-outbox [list]\n"
    "       ravlek-outbox send [--host <host>] [--port <port>] [--called-ae <title>] [--calling-ae <title>]\n"
    "       ravlek-outbox remove <entry>\n"
    "       ravlek-outbox --help | --version\n"
    "\n"
    "The images waiting for the PACS, in $XDG_STATE_HOME/kelvo/pacs-outbox.\n"
    "\n"
    "  list     each waiting image: its entry, patient, kind of object, when it was queued, how often\n"
    "           the PACS refused it and why\n"
    "  send     sends every waiting image now, whatever pause its earlier failures asked for; the\n"
    "           PACS is the one set for the installation of the current folder (section XRay),\n"
    "           unless the options name another\n"
    "  remove   takes an entry out of the queue without sending it\n"
    "\n"
    "Exit codes: 0 done (send: nothing is left waiting), 1 the PACS could not be reached or refused\n"
    "an image, or images remain, 2 usage, 3 another program is sending the outbox now.\n");

// How long "send" waits for a program that is sending the outbox already.
constexpr int kLockWaitMs = 10000;

class OutboxTool {
public:
    OutboxTool(QTextStream& out, QTextStream& err)
        : m_out(out)
        , m_err(err) {}

    int run(QStringList args) {
        const QString command = args.isEmpty() ? QStringLiteral("list") : args.takeFirst();
        if (command == QStringLiteral("list"))
            return args.isEmpty() ? list() : usage(QStringLiteral("list takes no arguments"));
        if (command == QStringLiteral("send"))
            return send(args);
        if (command == QStringLiteral("remove"))
            return args.size() == 1 ? remove(args.first()) : usage(QStringLiteral("remove takes one entry"));
        return usage(QStringLiteral("unknown command \"%1\"").arg(command));
    }

private:
    int usage(const QString& problem) {
        m_err << "ravlek-outbox: " << problem << "\n\n" << kUsage;
        return OutboxToolExit::Usage;
    }

    // The installation's settings, as the program would read them in this folder.
    static pacs::PacsSettings storedSettings() {
        try {
            InitApplicationEnvironment({QStringLiteral("ravlek-outbox")});
        } catch (const std::exception&) {
            return {};
        }
        return pacs::ReadPacsSettings();
    }

    int list() {
        QStringList problems;
        const QList<pacs::OutboxEntry> entries = m_outbox.Entries(&problems);
        const pacs::PacsSettings settings = storedSettings();
        m_out << entries.size() << (entries.size() == 1 ? " image waits" : " images wait") << " for the PACS "
              << (settings.enabled() ? settings.describe() : QStringLiteral("(none set)")) << " in "
              << m_outbox.Folder() << '\n';
        for (const pacs::OutboxEntry& entry : entries) {
            m_out << entry.id << "  patient " << entry.patientId << "  "
                  << pacs::SopClassName(entry.sopClassUid) << "  queued "
                  << entry.queued.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) << "  " << entry.sourceFile
                  << '\n';
            if (entry.attempts > 0)
                m_out << "    refused " << entry.attempts << (entry.attempts == 1 ? " time" : " times")
                      << ", last: " << entry.lastFailure << '\n';
        }
        for (const QString& problem : problems)
            m_err << "ravlek-outbox: cannot read entry " << problem << '\n';
        m_out.flush();
        return problems.isEmpty() ? OutboxToolExit::Done : OutboxToolExit::Failed;
    }

    int send(QStringList args) {
        pacs::PacsSettings settings = storedSettings();
        while (!args.isEmpty()) {
            const QString option = args.takeFirst();
            if (args.isEmpty())
                return usage(QStringLiteral("%1 needs a value").arg(option));
            const QString value = args.takeFirst();
            if (option == QStringLiteral("--host")) {
                settings.host = value;
            } else if (option == QStringLiteral("--port")) {
                bool numeric = false;
                settings.port = value.toInt(&numeric);
                if (!numeric)
                    return usage(QStringLiteral("the port \"%1\" is no number").arg(value));
            } else if (option == QStringLiteral("--called-ae")) {
                settings.calledAE = value;
            } else if (option == QStringLiteral("--calling-ae")) {
                settings.callingAE = value;
            } else {
                return usage(QStringLiteral("unknown option \"%1\"").arg(option));
            }
        }
        if (m_outbox.Count() == 0) {
            m_out << "Nothing waits for the PACS.\n";
            return OutboxToolExit::Done;
        }
        if (const QString problem = pacs::CheckPacsSettings(settings); !problem.isEmpty()) {
            m_err << "ravlek-outbox: cannot send: " << problem << '\n';
            return OutboxToolExit::Failed;
        }

        pacs::SendRoundHooks hooks;
        hooks.sent = [&](const pacs::OutboxEntry& entry, const QString& warning) {
            m_out << "sent " << entry.sourceFile << " as " << entry.sopInstanceUid << '\n';
            if (!warning.isEmpty())
                m_out << "    " << warning << '\n';
            m_out.flush();
        };
        hooks.refused = [&](const pacs::OutboxEntry& entry, const QString& failure) {
            m_out << "not sent " << entry.sourceFile << ": " << failure << '\n';
            m_out.flush();
        };
        const pacs::SendRoundResult round =
            pacs::SendOutbox(m_outbox, settings, QDateTime(), hooks, kLockWaitMs);
        if (round.busy) {
            m_err << "ravlek-outbox: another program is sending the outbox now\n";
            return OutboxToolExit::Busy;
        }
        if (round.associationFailed)
            m_err << "ravlek-outbox: " << round.failure << '\n';
        const int left = m_outbox.Count();
        m_out << round.sent << " sent, " << left << " waiting\n";
        return left == 0 && !round.associationFailed ? OutboxToolExit::Done : OutboxToolExit::Failed;
    }

    int remove(const QString& id) {
        const std::optional<pacs::OutboxEntry> entry = m_outbox.Find(id);
        if (!entry) {
            m_err << "ravlek-outbox: no entry \"" << id << "\" in " << m_outbox.Folder() << '\n';
            return OutboxToolExit::Failed;
        }
        if (const QString failure = m_outbox.Remove(id); !failure.isEmpty()) {
            m_err << "ravlek-outbox: " << failure << '\n';
            return OutboxToolExit::Failed;
        }
        m_out << "removed " << id << " (" << entry->sourceFile << "), not sent\n";
        return OutboxToolExit::Done;
    }

    QTextStream& m_out;
    QTextStream& m_err;
    pacs::PacsOutbox m_outbox;
};

} // namespace

QString OutboxToolUsage() {
    return kUsage;
}

int RunOutboxTool(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    OutboxTool tool(out, err);
    const int code = tool.run(arguments);
    out.flush();
    err.flush();
    return code;
}
