#pragma once

// The data-provider chooser: lists the data-link files of the data-link folder, lets the
// user add, edit, delete and choose one, and marks the stored default in green.

#include "database/DataLinkFile.h"

#include <QDialog>

class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;

class TfrmDataProviders : public QDialog {
    Q_OBJECT
public:
    explicit TfrmDataProviders(QWidget* parent = nullptr);

    // Name of the setting in section "DataProvider" that holds the default file.
    QString IniTextPosision;

    // The selected entry; empty when nothing is selected.
    QString SelectedName() const;
    // Lists the data-link files again and selects `name` (letter case ignored).
    void RefreshList(const QString& name);
    // File name part of the stored default.
    QString DefaultName() const;

    // OK, "Välj som standard", "Lägg till...", "Redigera..." and "Radera".
    void BitBtn1Click();
    void BitBtn3Click();
    void BitBtn4Click();
    void BitBtn5Click();
    void BitBtn6Click();

    // The controls; the designer's names are their object names.
    QGroupBox* ProvidersGroup = nullptr;  // GroupBox1: "DataProviders"
    QPushButton* AddButton = nullptr;     // BitBtn4: "Lägg till..."
    QPushButton* EditButton = nullptr;    // BitBtn5: "Redigera..."
    QPushButton* DefaultButton = nullptr; // BitBtn3: "Välj som standard"
    QPushButton* DeleteButton = nullptr;  // BitBtn6: "Radera"
    QLabel* ListLabel = nullptr;          // Label1: "Befintliga DataProviders"
    QListWidget* ProviderList = nullptr;  // ListBox1: the data-link files
    QPushButton* OkButton = nullptr;      // BitBtn1: "OK"
    QPushButton* CancelButton = nullptr;  // BitBtn2: "Avbryt"

protected:
    bool event(QEvent* event) override;

private:
    void FormActivate();
    // False (after the notice) when no entry is selected.
    bool requireSelection();
    void openEditor(const QString& name);
};

// Shows the chooser for the setting `settingKey` and returns the chosen file name without
// folder; the current data-link file's name when the user cancels.
QString ChooseDataProvider(const QString& settingKey);
// The same, with `currentName` answered when the user cancels.
QString ChooseDataProvider(const QString& settingKey, const QString& currentName);
