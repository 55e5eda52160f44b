#include "enterprise/common/async/error.h"

#include <memory>
#include <new>

#include "core/common/error.h"
#include "core/common/message_catalogue.h"

namespace Async {

namespace {

constexpr Common::SourceFile kSource("enterprise/common/async/error", 0x67DF8F2F6F61640Full - 41);

// The six descriptors, in their order of building. Built on first use (also
// before main), with the texts looked up then, and never destroyed: the
// threads of the IPC and async libraries may still copy their errors while
// the process exits.
struct Descriptors
{
    ErrorDescriptor entries[6] = {
        {ASYNC_ERROR_RESULT_INVALID, Common::GetMessageText(kResultInvalidText)},
        {ASYNC_ERROR_CANCELED, Common::GetMessageText(kCanceledText)},
        {ASYNC_ERROR_RESERVED_0A, nullptr},
        {ASYNC_ERROR_STEPS_STOPPED, nullptr},
        {ASYNC_ERROR_SEQUENCE_STOP, nullptr},
        {ASYNC_ERROR_CYCLE_BREAK, nullptr},
    };
};

Descriptors& GetDescriptors()
{
    static Descriptors* const descriptors = new Descriptors;
    return *descriptors;
}

// Common::Error has a virtual function but no virtual destructor; these
// errors are exactly that type.
void DeleteError(Common::Error* error) noexcept
{
    if (!error)
        return;
    std::destroy_at(error);
    ::operator delete(error);
}

} // namespace

ErrorDescriptor::~ErrorDescriptor()
{
    DeleteError(error.exchange(nullptr, std::memory_order_acq_rel));
}

const Common::Error& ErrorDescriptor::Get()
{
    Common::Error* published = error.load(std::memory_order_acquire);
    if (published)
        return *published;
    const Common::Location location = kSource.At("Get", 41);
    auto* created = text ? new Common::Error(code, text, location) : new Common::Error(code, location);
    if (error.compare_exchange_strong(published, created, std::memory_order_acq_rel, std::memory_order_acquire))
        return *created;
    DeleteError(created); // another thread published first
    return *published;
}

ErrorDescriptor* FindErrorDescriptor(unsigned code) noexcept
{
    for (ErrorDescriptor& descriptor : GetDescriptors().entries)
        if (descriptor.code == code)
            return &descriptor;
    return nullptr;
}

const Common::Error& GetInvalidResultError()
{
    return GetDescriptors().entries[0].Get();
}

const Common::Error& GetCanceledError()
{
    return GetDescriptors().entries[1].Get();
}

const Common::Error& GetStepsStoppedError()
{
    return GetDescriptors().entries[3].Get();
}

const Common::Error& GetCycleBreakError()
{
    return GetDescriptors().entries[5].Get();
}

Common::Error MakeCanceledError(const Common::Location& location) noexcept
{
    return Common::MakeTraceLevelError(ASYNC_ERROR_CANCELED, Common::GetMessageText(kCanceledText), location);
}

Common::Error MakeJobContextError(const EntityDescription& description) noexcept
{
    return Common::MakeTraceLevelError(ASYNC_ERROR_JOB_CONTEXT, description.text.c_str(), description.location);
}

bool ChainContainsCode(const Common::Error& error, unsigned code) noexcept
{
    for (const Common::ErrorRecord* record = error.GetRecord(); record; record = record->next)
        if (record->code == code)
            return true;
    return false;
}

} // namespace Async
