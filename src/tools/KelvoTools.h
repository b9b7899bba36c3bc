#pragma once

// The shared tools library in one include.

#include "tools/KelvoEnvironment.h"
#include "tools/KelvoLogin.h"
#include "tools/KelvoMessages.h"
#include "tools/KelvoProgress.h"
#include "tools/KelvoSettings.h"
#include "tools/UfrmProgress.h"
