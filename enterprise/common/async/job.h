// Moved to the async service library's headers.
#pragma once

#include "platform/async/job.h"
