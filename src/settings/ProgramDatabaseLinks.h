#pragma once

// What the program gives its database layer: the tools library's progress display, file
// search and settings store, and the data-provider chooser of this folder.

#include "database/DatabaseLinks.h"

TDatabaseLinks ProgramDatabaseLinks();
