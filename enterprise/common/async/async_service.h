// The async service as this system calls it. The service's interfaces and
// GetAsyncService are the async service library's (platform/async/async_service.h);
// this system implements Work and SynchronizationCallback and always asks for
// metronomes of period 60.
//
// GetAsyncService is defined by the async service library, which the framework
// links. When it yields no service, work that would go to the service runs on
// the calling thread instead.
//
// Threading: see platform/async/async_service.h.
#pragma once

#include "enterprise/common/async/job.h"
#include "platform/async/async_service.h"
