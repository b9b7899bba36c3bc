#include "pacs/PacsLog.h"

Q_LOGGING_CATEGORY(lcPacs, "ravlek.pacs")
