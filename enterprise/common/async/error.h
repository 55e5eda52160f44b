// The async errors: the shared errors of the error descriptors (one
// process-wide Common::Error per code, created on first use and published by
// compare-and-swap), and the makers of fresh canceled and job-context errors.
//
// Threading: the getters are safe from any thread, also before main; the
// errors they return are only read afterwards (copies share the record).
#pragma once

#include <atomic>
#include <cstdint>

#include "enterprise/common/async/async_errors.h"
#include "enterprise/common/async/job.h"
#include "platform/objrep/common_error.h"

namespace Async {

// A static record for one shared error. The error is created on first use and
// released at exit.
struct ErrorDescriptor
{
    uint32_t code;
    const char16_t* text; // catalogue text, or null
    std::atomic<Common::Error*> error;

    ErrorDescriptor(uint32_t descriptorCode, const char16_t* descriptorText) noexcept
        : code(descriptorCode), text(descriptorText), error(nullptr)
    {
    }
    ~ErrorDescriptor();
    ErrorDescriptor(const ErrorDescriptor&) = delete;
    ErrorDescriptor& operator=(const ErrorDescriptor&) = delete;

    // The published error, created by the first caller; std::bad_alloc
    // propagates and publishes nothing.
    const Common::Error& Get();
};

// The descriptor of `code` (one of the six shared codes), else null.
ErrorDescriptor* FindErrorDescriptor(unsigned code) noexcept;

const Common::Error& GetInvalidResultError();
const Common::Error& GetCanceledError();
const Common::Error& GetStepsStoppedError();
const Common::Error& GetCycleBreakError();

// A new ASYNC_ERROR_CANCELED with catalogue text 133 at the caller's location.
Common::Error MakeCanceledError(const Common::Location& location) noexcept;
// A new ASYNC_ERROR_JOB_CONTEXT with the description's text and location.
Common::Error MakeJobContextError(const EntityDescription& description) noexcept;

// True when `error` or one of its causes has `code`.
bool ChainContainsCode(const Common::Error& error, unsigned code) noexcept;

} // namespace Async
