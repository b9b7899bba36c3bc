#include "settings/DataLinkEditor.h"

#include "database/KelvoDatabase.h"
#include "tools/KelvoMessages.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <exception>

TfrmDataLinkEditor::TfrmDataLinkEditor(const QString& fileName, QWidget* parent)
    : QDialog(parent)
    , m_fileName(fileName) {
    setWindowTitle(QStringLiteral("Data Link Properties"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    EngineBox = new QComboBox(this);
    EngineBox->addItem(QStringLiteral("Microsoft SQL Server"), int(DataLinkEngine::SqlServer));
    EngineBox->addItem(QStringLiteral("PostgreSQL"), int(DataLinkEngine::PostgreSQL));
    EngineBox->addItem(QStringLiteral("SQLite"), int(DataLinkEngine::SQLite));
    ServerEdit = new QLineEdit(this);
    DatabaseEdit = new QLineEdit(this);
    m_serverLabel = new QLabel(this);

    auto* target = new QFormLayout;
    target->addRow(QStringLiteral("Database engine:"), EngineBox);
    target->addRow(m_serverLabel, ServerEdit);
    target->addRow(QStringLiteral("Database:"), DatabaseEdit);

    auto* login = new QGroupBox(QStringLiteral("Log on to the server"), this);
    SystemLoginButton = new QRadioButton(QStringLiteral("Use the operating-system login"), login);
    UserLoginButton = new QRadioButton(QStringLiteral("Use a specific user name and password:"), login);
    UserEdit = new QLineEdit(login);
    PasswordEdit = new QLineEdit(login);
    PasswordEdit->setEchoMode(QLineEdit::Password);
    auto* hint = new QLabel(
        QStringLiteral("Without a password the program takes the login stored in the database."), login);
    hint->setWordWrap(true);
    auto* credentials = new QFormLayout;
    credentials->addRow(QStringLiteral("User name:"), UserEdit);
    credentials->addRow(QStringLiteral("Password:"), PasswordEdit);
    auto* loginLayout = new QVBoxLayout(login);
    loginLayout->addWidget(SystemLoginButton);
    loginLayout->addWidget(UserLoginButton);
    loginLayout->addLayout(credentials);
    loginLayout->addWidget(hint);

    TestButton = new QPushButton(QStringLiteral("Test connection"), this);
    TestButton->setAutoDefault(false);
    ButtonBox = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);

    auto* window = new QVBoxLayout(this);
    window->addLayout(target);
    window->addWidget(login);
    window->addWidget(TestButton, 0, Qt::AlignLeft);
    window->addWidget(ButtonBox);

    connect(EngineBox, &QComboBox::currentIndexChanged, this, &TfrmDataLinkEditor::updateFields);
    connect(SystemLoginButton, &QRadioButton::toggled, this, &TfrmDataLinkEditor::updateFields);
    connect(TestButton, &QPushButton::clicked, this, &TfrmDataLinkEditor::TestConnection);
    connect(ButtonBox, &QDialogButtonBox::accepted, this, &TfrmDataLinkEditor::accept);
    connect(ButtonBox, &QDialogButtonBox::rejected, this, &TfrmDataLinkEditor::reject);

    setConnectionString(ReadDataLinkFile(fileName).value_or(QString()));
}

DataLinkEngine TfrmDataLinkEditor::engine() const {
    return static_cast<DataLinkEngine>(EngineBox->currentData().toInt());
}

void TfrmDataLinkEditor::setConnectionString(const QString& connectionString) {
    const TDataLink link = ParseConnectionString(connectionString);
    m_provider = link.provider;
    m_otherParts = link.otherParts;
    const DataLinkEngine chosen = EngineOfProvider(link.provider).value_or(DataLinkEngine::SqlServer);
    EngineBox->setCurrentIndex(EngineBox->findData(int(chosen)));
    ServerEdit->setText(link.server);
    DatabaseEdit->setText(link.database);
    UserEdit->setText(link.user);
    PasswordEdit->setText(link.password);
    (link.integratedSecurity ? SystemLoginButton : UserLoginButton)->setChecked(true);
    updateFields();
}

QString TfrmDataLinkEditor::connectionString() const {
    TDataLink link;
    const DataLinkEngine chosen = engine();
    link.provider = EngineOfProvider(m_provider) == chosen ? m_provider : ProviderOfEngine(chosen);
    link.server = ServerEdit->text().trimmed();
    link.otherParts = m_otherParts;
    // A SQLite database is one file: it has neither a catalog nor a login.
    if (chosen != DataLinkEngine::SQLite) {
        link.database = DatabaseEdit->text().trimmed();
        link.integratedSecurity = SystemLoginButton->isChecked();
        if (!link.integratedSecurity) {
            link.user = UserEdit->text().trimmed();
            link.password = PasswordEdit->text();
        }
    }
    return ComposeConnectionString(link);
}

void TfrmDataLinkEditor::updateFields() {
    const bool isFile = engine() == DataLinkEngine::SQLite;
    m_serverLabel->setText(isFile ? QStringLiteral("Database file:") : QStringLiteral("Server:"));
    DatabaseEdit->setEnabled(!isFile);
    SystemLoginButton->setEnabled(!isFile);
    UserLoginButton->setEnabled(!isFile);
    const bool ownLogin = !isFile && UserLoginButton->isChecked();
    UserEdit->setEnabled(ownLogin);
    PasswordEdit->setEnabled(ownLogin);
}

bool TfrmDataLinkEditor::TestConnection() {
    try {
        TADOConnection connection;
        connection.SetConnectionString(connectionString());
        connection.Open();
        connection.Close();
    } catch (const std::exception& failure) {
        FailureMessage(QStringLiteral("Test connection failed.\r\r") + QString::fromUtf8(failure.what()));
        return false;
    }
    InformationMessage(QStringLiteral("Test connection succeeded."));
    return true;
}

void TfrmDataLinkEditor::accept() {
    QString error;
    if (!WriteDataLinkFile(m_fileName, connectionString(), &error)) {
        FailureMessage(QStringLiteral("The data-link file \"") + m_fileName +
                       QStringLiteral("\" could not be saved.\r\r") + error);
        return;
    }
    QDialog::accept();
}

TfrmDataLinkEditor* OpenDataLinkEditor(const QString& fileName, QWidget* parent) {
    auto* editor = new TfrmDataLinkEditor(fileName, parent);
    editor->setAttribute(Qt::WA_DeleteOnClose);
    editor->setWindowModality(Qt::WindowModal);
    editor->show();
    return editor;
}
