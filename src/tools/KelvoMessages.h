#pragma once

// The tools library's modal messages and small utilities.

#include "platform/DialogService.h"

#include <QString>
#include <QStringList>

class QWidget;

void InformationMessage(const QString& text);
void ErrorMessage(const QString& text);
void NoticeMessage(const QString& text);
// True when the user chose Yes.
bool ConfirmMessage(const QString& text);

// Replaces the database driver's lost-update report by advice for the user; returns
// whether a report was replaced.
bool ReplaceLostUpdateReport(QString& text);

void PrepareForm(QWidget* form);
QString GetWorkstationName();
QStringList FindFiles(const QString& folder, const QString& pattern);
