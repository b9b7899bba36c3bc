#pragma once

// The main window's two small message boxes, used by the other windows too.

#include <QString>

// Modal box titled "Information" with a warning icon and a single OK button.
void WarningBox(const QString& text);

// Modal box titled "Fråga" with a question icon and Yes and No; true when the user chose Yes.
bool QuestionBox(const QString& text);
