// The shared utilities in one include: cookie component, HTTP dates, environment and path routines.
// Include the single headers where only one of them is needed.
#pragma once

#include "EnvPaths.h"
#include "HttpCookie.h"
#include "HttpDate.h"
