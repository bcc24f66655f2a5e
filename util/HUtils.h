// The shared utilities in one include: cookie component, HTTP dates, environment and path routines,
// form data coding and the multipart decoder (include single headers where one is enough).
#pragma once

#include "EnvPaths.h"
#include "FormData.h"
#include "HttpCookie.h"
#include "HttpDate.h"
#include "Multipart.h"
#include "UploadFileName.h"
