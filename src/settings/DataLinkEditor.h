#pragma once

// The data-link editor: edits one data-link (".udl") file, the database engine, the server
// (or the database file for SQLite), the database and the login, and tests the connection.

#include "database/DataLinkFile.h"

#include <QDialog>

class QComboBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

class TfrmDataLinkEditor : public QDialog {
    Q_OBJECT
public:
    // Shows the contents of `fileName` when it holds a connection string.
    explicit TfrmDataLinkEditor(const QString& fileName, QWidget* parent = nullptr);

    QString fileName() const { return m_fileName; }
    // The connection string the fields describe.
    QString connectionString() const;
    // Fills the fields from a connection string.
    void setConnectionString(const QString& connectionString);

    // Opens a connection with connectionString() and reports the outcome in a message.
    // True when the connection opened.
    bool TestConnection();

    // Writes the file and closes the window; a failed write is reported and the window stays.
    void accept() override;

    QComboBox* EngineBox = nullptr;
    QLineEdit* ServerEdit = nullptr;
    QLineEdit* DatabaseEdit = nullptr;
    QRadioButton* SystemLoginButton = nullptr;
    QRadioButton* UserLoginButton = nullptr;
    QLineEdit* UserEdit = nullptr;
    QLineEdit* PasswordEdit = nullptr;
    QPushButton* TestButton = nullptr;
    QDialogButtonBox* ButtonBox = nullptr;

private:
    DataLinkEngine engine() const;
    void updateFields();

    QString m_fileName;
    // The provider as the file named it, kept while its engine stays chosen.
    QString m_provider;
    QList<QPair<QString, QString>> m_otherParts;
    QLabel* m_serverLabel = nullptr;
};

// Opens the editor for `fileName` as a window of `parent` without waiting for it; the
// window deletes itself when it closes.
TfrmDataLinkEditor* OpenDataLinkEditor(const QString& fileName, QWidget* parent);
