#include "pacs/DicomStore.h"

#include "pacs/DicomImage.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/dcmnet/assoc.h>
#include <dcmtk/dcmnet/dimse.h>
#include <dcmtk/dcmnet/diutil.h>

#include <QStringList>

#include <cstring>
#include <functional>
#include <vector>

namespace pacs {

namespace {

constexpr int kMaximumContexts = 128;

QString where(const PacsSettings& settings) {
    return settings.host.trimmed() + QLatin1Char(':') + QString::number(settings.port);
}

// DCMTK's text of a condition on one line ("Failed to establish association; ... Connection refused").
QString conditionText(const OFCondition& condition) {
    QStringList lines = QString::fromLocal8Bit(condition.text()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (QString& line : lines)
        line = line.trimmed();
    return lines.join(QStringLiteral("; "));
}

QString rejectionReason(const T_ASC_RejectParameters& rejection, const PacsSettings& settings) {
    switch (rejection.reason) {
    case ASC_REASON_SU_CALLEDAETITLENOTRECOGNIZED:
        return QStringLiteral("its AE title is not \"%1\"").arg(settings.calledAE.trimmed());
    case ASC_REASON_SU_CALLINGAETITLENOTRECOGNIZED:
        return QStringLiteral("it does not know this workstation's AE title \"%1\"")
            .arg(settings.callingAE.trimmed());
    case ASC_REASON_SU_APPCONTEXTNAMENOTSUPPORTED:
        return QStringLiteral("it does not support the DICOM application context");
    case ASC_REASON_SP_ACSE_PROTOCOLVERSIONNOTSUPPORTED:
        return QStringLiteral("it does not support the protocol version");
    case ASC_REASON_SP_PRES_TEMPORARYCONGESTION:
        return QStringLiteral("it is too busy just now");
    case ASC_REASON_SP_PRES_LOCALLIMITEXCEEDED:
        return QStringLiteral("it has as many associations open as it allows");
    case ASC_REASON_SU_NOREASON:
    case ASC_REASON_SP_ACSE_NOREASON:
        break;
    }
    return QStringLiteral("it gave no reason");
}

QString rejectionText(T_ASC_Parameters* parameters, const PacsSettings& settings) {
    T_ASC_RejectParameters rejection{};
    ASC_getRejectParameters(parameters, &rejection);
    return QStringLiteral("The PACS at %1 refused the association: %2 (%3).")
        .arg(where(settings), rejectionReason(rejection, settings),
             rejection.result == ASC_RESULT_REJECTEDTRANSIENT ? QStringLiteral("for now")
                                                              : QStringLiteral("for good"));
}

// The transfer syntaxes offered for a kind: its own, and for an uncompressed one also the two
// that every PACS takes (DCMTK converts between uncompressed syntaxes while sending).
std::vector<QByteArray> transferSyntaxesFor(const ObjectKind& kind) {
    std::vector<QByteArray> syntaxes{kind.transferSyntaxUid.toLatin1()};
    const DcmXfer own(syntaxes.front().constData());
    if (own.isEncapsulated())
        return syntaxes;
    for (const char* uncompressed :
         {UID_LittleEndianExplicitTransferSyntax, UID_LittleEndianImplicitTransferSyntax}) {
        if (syntaxes.front() != uncompressed)
            syntaxes.emplace_back(uncompressed);
    }
    return syntaxes;
}

// The network and the association of one connection, given back in every case.
struct Connection {
    T_ASC_Network* network = nullptr;
    T_ASC_Association* association = nullptr;
    bool lost = false;

    ~Connection() {
        if (association) {
            if (lost || ASC_releaseAssociation(association).bad())
                ASC_abortAssociation(association);
            ASC_destroyAssociation(&association);
        }
        if (network)
            ASC_dropNetwork(&network);
    }
};

// Connects and negotiates; `propose` adds the presentation contexts. Empty with `error` in words.
std::unique_ptr<Connection> associate(const PacsSettings& settings,
                                      const std::function<void(T_ASC_Parameters*)>& propose, QString* error) {
    if (const QString problem = CheckPacsSettings(settings); !problem.isEmpty()) {
        *error = QStringLiteral("The PACS settings cannot be used: ") + problem + QLatin1Char('.');
        return nullptr;
    }
    dcmConnectionTimeout.set(kConnectTimeoutSeconds);
    auto connection = std::make_unique<Connection>();
    OFCondition condition =
        ASC_initializeNetwork(NET_REQUESTOR, 0, kAssociationTimeoutSeconds, &connection->network);
    if (condition.bad()) {
        *error = QStringLiteral("The network cannot be used: ") + conditionText(condition);
        return nullptr;
    }
    T_ASC_Parameters* parameters = nullptr;
    ASC_createAssociationParameters(&parameters, ASC_DEFAULTMAXPDU);
    ASC_setAPTitles(parameters, settings.callingAE.trimmed().toLatin1().constData(),
                    settings.calledAE.trimmed().toLatin1().constData(), nullptr);
    ASC_setPresentationAddresses(parameters, "localhost", where(settings).toLatin1().constData());
    propose(parameters);

    condition = ASC_requestAssociation(connection->network, parameters, &connection->association);
    if (condition.bad()) {
        if (condition == DUL_ASSOCIATIONREJECTED)
            *error = rejectionText(parameters, settings);
        else
            *error = QStringLiteral("The PACS at %1 cannot be reached: %2.")
                         .arg(where(settings), conditionText(condition));
        // A refused association keeps the parameters; they go with it, or on their own.
        if (connection->association)
            ASC_destroyAssociation(&connection->association);
        else
            ASC_destroyAssociationParameters(&parameters);
        return nullptr;
    }
    return connection;
}

} // namespace

// ---- Verification -----------------------------------------------------------------------

PacsOutcome EchoPacs(const PacsSettings& settings) {
    QString error;
    const std::unique_ptr<Connection> connection = associate(
        settings,
        [](T_ASC_Parameters* parameters) {
            const char* syntaxes[] = {UID_LittleEndianImplicitTransferSyntax};
            ASC_addPresentationContext(parameters, 1, UID_VerificationSOPClass, syntaxes, 1);
        },
        &error);
    if (!connection)
        return {false, error};
    if (ASC_countAcceptedPresentationContexts(connection->association->params) == 0)
        return {false, QStringLiteral("The PACS at %1 accepted the association but not the verification "
                                      "service (C-ECHO).")
                           .arg(where(settings))};
    DIC_US status = 0;
    DcmDataset* detail = nullptr;
    const OFCondition echoed = DIMSE_echoUser(connection->association, connection->association->nextMsgID++,
                                              DIMSE_NONBLOCKING, kMessageTimeoutSeconds, &status, &detail);
    delete detail;
    if (echoed.bad()) {
        connection->lost = true;
        return {false, QStringLiteral("The PACS at %1 did not answer the verification: %2.")
                           .arg(where(settings), conditionText(echoed))};
    }
    if (status != STATUS_Success)
        return {false, QStringLiteral("The PACS at %1 answered the verification with %2 (0x%3).")
                           .arg(where(settings), QString::fromLatin1(DU_cechoStatusString(status)))
                           .arg(status, 4, 16, QLatin1Char('0'))};
    return {true, QStringLiteral("The PACS %1 answered: the connection works.").arg(settings.describe())};
}

// ---- Storage ----------------------------------------------------------------------------

ObjectKind KindOf(DcmFileFormat& object) {
    OFString sopClass;
    object.getDataset()->findAndGetOFString(DCM_SOPClassUID, sopClass);
    E_TransferSyntax syntax = object.getDataset()->getOriginalXfer();
    if (syntax == EXS_Unknown)
        syntax = EXS_LittleEndianExplicit;
    return {QString::fromLatin1(sopClass.c_str()), QString::fromLatin1(DcmXfer(syntax).getXferID())};
}

struct DicomStoreAssociation::Private {
    std::unique_ptr<Connection> connection;
    PacsSettings settings;
};

DicomStoreAssociation::DicomStoreAssociation(std::unique_ptr<Private> p)
    : d(std::move(p)) {}

DicomStoreAssociation::~DicomStoreAssociation() = default;

std::unique_ptr<DicomStoreAssociation>
DicomStoreAssociation::Open(const PacsSettings& settings, const QList<ObjectKind>& kinds, QString* error) {
    QList<ObjectKind> distinct;
    for (const ObjectKind& kind : kinds) {
        if (!distinct.contains(kind) && distinct.size() < kMaximumContexts)
            distinct.append(kind);
    }
    std::unique_ptr<Connection> connection = associate(
        settings,
        [&](T_ASC_Parameters* parameters) {
            T_ASC_PresentationContextID id = 1;
            for (const ObjectKind& kind : distinct) {
                const std::vector<QByteArray> syntaxes = transferSyntaxesFor(kind);
                std::vector<const char*> list;
                for (const QByteArray& syntax : syntaxes)
                    list.push_back(syntax.constData());
                ASC_addPresentationContext(parameters, id, kind.sopClassUid.toLatin1().constData(),
                                           list.data(), int(list.size()));
                id += 2;
            }
        },
        error);
    if (!connection)
        return nullptr;
    if (ASC_countAcceptedPresentationContexts(connection->association->params) == 0) {
        QStringList names;
        for (const ObjectKind& kind : distinct)
            names.append(QString::fromLatin1(dcmFindNameOfUID(kind.sopClassUid.toLatin1().constData(),
                                                              kind.sopClassUid.toLatin1().constData())));
        names.removeDuplicates();
        *error = QStringLiteral("The PACS at %1 accepts none of the objects offered (%2).")
                     .arg(where(settings), names.join(QStringLiteral(", ")));
        return nullptr;
    }
    auto p = std::make_unique<Private>();
    p->connection = std::move(connection);
    p->settings = settings;
    return std::unique_ptr<DicomStoreAssociation>(new DicomStoreAssociation(std::move(p)));
}

DicomStoreAssociation::StoreOutcome DicomStoreAssociation::Store(DcmFileFormat& object) {
    StoreOutcome outcome;
    if (d->connection->lost) {
        outcome.associationLost = true;
        outcome.text = QStringLiteral("The association with the PACS is gone.");
        return outcome;
    }
    DcmDataset* data = object.getDataset();
    const ObjectKind kind = KindOf(object);
    OFString instance;
    data->findAndGetOFString(DCM_SOPInstanceUID, instance);
    T_ASC_Association* association = d->connection->association;
    const T_ASC_PresentationContextID context = ASC_findAcceptedPresentationContextID(
        association, kind.sopClassUid.toLatin1().constData(), kind.transferSyntaxUid.toLatin1().constData());
    if (context == 0) {
        outcome.text =
            QStringLiteral("The PACS does not take %1 objects.").arg(SopClassName(kind.sopClassUid));
        return outcome;
    }

    T_DIMSE_C_StoreRQ request{};
    request.MessageID = association->nextMsgID++;
    OFStandard::strlcpy(request.AffectedSOPClassUID, kind.sopClassUid.toLatin1().constData(),
                        sizeof request.AffectedSOPClassUID);
    OFStandard::strlcpy(request.AffectedSOPInstanceUID, instance.c_str(),
                        sizeof request.AffectedSOPInstanceUID);
    request.DataSetType = DIMSE_DATASET_PRESENT;
    request.Priority = DIMSE_PRIORITY_MEDIUM;
    T_DIMSE_C_StoreRSP response{};
    DcmDataset* detail = nullptr;
    const OFCondition sent = DIMSE_storeUser(association, context, &request, nullptr, data, nullptr, nullptr,
                                             DIMSE_NONBLOCKING, kMessageTimeoutSeconds, &response, &detail);
    delete detail;
    if (sent.bad()) {
        d->connection->lost = true;
        outcome.associationLost = true;
        outcome.text = QStringLiteral("The transfer to the PACS at %1 broke off: %2.")
                           .arg(where(d->settings), conditionText(sent));
        return outcome;
    }
    const Uint16 status = response.DimseStatus;
    const QString statusText = QStringLiteral("%1 (0x%2)")
                                   .arg(QString::fromLatin1(DU_cstoreStatusString(status)))
                                   .arg(status, 4, 16, QLatin1Char('0'));
    if (status == STATUS_Success) {
        outcome.stored = true;
    } else if (DICOM_WARNING_STATUS(status)) {
        outcome.stored = true;
        outcome.text = QStringLiteral("The PACS stored the image with a warning: ") + statusText;
    } else {
        outcome.text = QStringLiteral("The PACS refused the image: ") + statusText;
    }
    return outcome;
}

} // namespace pacs
