#pragma once

// The tools library's modal messages and small utilities.

#include "platform/DialogService.h"

#include <QString>
#include <QStringList>

#include <exception>

class QWidget;

void InformationMessage(const QString& text);
// A failure the user should notice (a device, file or database that failed): the warning icon,
// otherwise as InformationMessage.
void FailureMessage(const QString& text);
void ErrorMessage(const QString& text);
void NoticeMessage(const QString& text);
// True when the user chose Yes.
bool ConfirmMessage(const QString& text);

// InformationMessage, FailureMessage and ErrorMessage replace the database driver's lost-update report by
// advice for the user (ReplaceLostUpdateReport, database/DatabaseLinks.h); FailureText
// (platform/DialogService.h) gives a failure's text for the end of a message.

// Reports a failure that no handler guards against: its text in an error box, as an
// application's default handler would, so that it never escapes into the event loop.
void ShowUnhandledFailure(const std::exception& failure);

void PrepareForm(QWidget* form);
QString GetWorkstationName();
QStringList FindFiles(const QString& folder, const QString& pattern);
