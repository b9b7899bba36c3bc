#pragma once

// The log category of everything that goes to the PACS: what was queued, sent and refused.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcPacs)
