#pragma once

// The PACS window of the settings: where the stored images go besides the patient's folder,
// and a "Test connection" that asks the PACS for a verification (C-ECHO).

#include "pacs/DicomStore.h"
#include "pacs/PacsSettings.h"

#include <QDialog>
#include <QFutureWatcher>

class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

class TfrmPacsSettings : public QDialog {
    Q_OBJECT
public:
    explicit TfrmPacsSettings(QWidget* parent = nullptr);
    ~TfrmPacsSettings() override;

    // The settings as the fields give them.
    pacs::PacsSettings Entered() const;

    // "Test connection": the verification runs on a thread of its own; its outcome, in words,
    // appears in `lblTestResult`.
    void btnTestClick();
    // "OK": stores the settings when they can be used (an empty host switches the PACS off).
    void btnOKClick();
    // Whether a test is still running.
    bool Testing() const;

    QLineEdit* edtHost = nullptr;
    QSpinBox* edtPort = nullptr;
    QLineEdit* edtCalledAE = nullptr;
    QLineEdit* edtCallingAE = nullptr;
    QPushButton* btnTest = nullptr;
    QLabel* lblTestResult = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;

Q_SIGNALS:
    void TestFinished(bool ok, const QString& text);

private:
    void showOutcome(const pacs::PacsOutcome& outcome);

    QFutureWatcher<pacs::PacsOutcome> m_test;
};
