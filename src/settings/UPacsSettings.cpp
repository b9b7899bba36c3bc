#include "settings/UPacsSettings.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

namespace {

// Printable ASCII without the backslash, at most 16 characters.
QRegularExpressionValidator* aeTitleValidator(QObject* parent) {
    return new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[ -\\[\\]-~]{0,16}")), parent);
}

} // namespace

TfrmPacsSettings::TfrmPacsSettings(QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("frmPacsSettings"));
    setWindowTitle(QStringLiteral("PACS"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);

    const pacs::PacsSettings stored = pacs::ReadPacsSettings();
    edtHost = new QLineEdit(stored.host, this);
    edtHost->setObjectName(QStringLiteral("edtHost"));
    edtHost->setPlaceholderText(QStringLiteral("(no PACS)"));
    edtPort = new QSpinBox(this);
    edtPort->setObjectName(QStringLiteral("edtPort"));
    edtPort->setRange(1, 65535);
    edtPort->setValue(stored.port);
    edtCalledAE = new QLineEdit(stored.calledAE, this);
    edtCalledAE->setObjectName(QStringLiteral("edtCalledAE"));
    edtCalledAE->setValidator(aeTitleValidator(edtCalledAE));
    edtCallingAE = new QLineEdit(stored.callingAE, this);
    edtCallingAE->setObjectName(QStringLiteral("edtCallingAE"));
    edtCallingAE->setValidator(aeTitleValidator(edtCallingAE));

    btnTest = new QPushButton(QStringLiteral("Test connection"), this);
    btnTest->setObjectName(QStringLiteral("btnTest"));
    lblTestResult = new QLabel(this);
    lblTestResult->setObjectName(QStringLiteral("lblTestResult"));
    lblTestResult->setWordWrap(true);
    lblTestResult->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblTestResult->setMinimumWidth(320);

    auto* buttons = new QDialogButtonBox(this);
    btnOK = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    btnCancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);

    auto* fields = new QFormLayout;
    fields->addRow(QStringLiteral("PACS host (empty: none)"), edtHost);
    fields->addRow(QStringLiteral("Port"), edtPort);
    fields->addRow(QStringLiteral("PACS AE title"), edtCalledAE);
    fields->addRow(QStringLiteral("This workstation's AE title"), edtCallingAE);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(btnTest, 0, Qt::AlignLeft);
    layout->addWidget(lblTestResult);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(btnTest, &QPushButton::clicked, this, &TfrmPacsSettings::btnTestClick);
    connect(btnOK, &QPushButton::clicked, this, &TfrmPacsSettings::btnOKClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(&m_test, &QFutureWatcher<pacs::PacsOutcome>::finished, this,
            [this] { showOutcome(m_test.result()); });
}

// A test still running finishes on its own; its outcome is no longer shown.
TfrmPacsSettings::~TfrmPacsSettings() {
    m_test.disconnect(this);
}

pacs::PacsSettings TfrmPacsSettings::Entered() const {
    pacs::PacsSettings settings;
    settings.host = edtHost->text().trimmed();
    settings.port = edtPort->value();
    settings.calledAE = edtCalledAE->text().trimmed();
    settings.callingAE = edtCallingAE->text().trimmed();
    return settings;
}

bool TfrmPacsSettings::Testing() const {
    return m_test.isRunning();
}

void TfrmPacsSettings::btnTestClick() {
    const pacs::PacsSettings settings = Entered();
    if (const QString problem = pacs::CheckPacsSettings(settings); !problem.isEmpty()) {
        showOutcome({false, QStringLiteral("Cannot test: ") + problem + QLatin1Char('.')});
        return;
    }
    btnTest->setEnabled(false);
    lblTestResult->setText(QStringLiteral("Testing the connection to %1...").arg(settings.describe()));
    m_test.setFuture(QtConcurrent::run([settings] { return pacs::EchoPacs(settings); }));
}

void TfrmPacsSettings::showOutcome(const pacs::PacsOutcome& outcome) {
    btnTest->setEnabled(true);
    lblTestResult->setText(outcome.text);
    QPalette palette = lblTestResult->palette();
    palette.setColor(QPalette::WindowText, outcome.ok ? QColor(0x00, 0x70, 0x00) : QColor(0xB0, 0x00, 0x00));
    lblTestResult->setPalette(palette);
    Q_EMIT TestFinished(outcome.ok, outcome.text);
}

void TfrmPacsSettings::btnOKClick() {
    const pacs::PacsSettings settings = Entered();
    if (settings.enabled()) {
        if (const QString problem = pacs::CheckPacsSettings(settings); !problem.isEmpty()) {
            showOutcome({false, QStringLiteral("Not stored: ") + problem + QLatin1Char('.')});
            return;
        }
    }
    pacs::WritePacsSettings(settings);
    accept();
}
