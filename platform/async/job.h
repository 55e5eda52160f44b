// The async service library's job vocabulary: an Action is started with an
// ActionHandler, may be represented by a Job while it runs, and reports exactly
// one Common::Error to the handler. The service hands out jobs for its work
// items and metronome ticks and completes the handlers it is given; the async
// job framework (enterprise/common/async/job.h) builds on the same interfaces.
//
// Contract of a run: Action::Perform returns the job that represents the run,
// or an empty pointer when there is nothing to cancel (the actions of this
// system that return one have completed the handler before returning). The
// handler gets exactly one Completed per Perform, before Perform returns on the
// same thread or later on any thread; the caller keeps the handler alive until
// then. Whoever holds the job may Cancel it; a cancel only asks, the completion
// still comes, as a rule with ASYNC_ERROR_CANCELED.
//
// Declaration order is the binary order; never insert or reorder.
//
// Threading: the interfaces carry no state; see each implementation.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "platform/objrep/common_error.h"

namespace Async {

// The base of the library's interfaces, which are neither copied nor assigned.
class InterfaceBase
{
public:
    InterfaceBase(const InterfaceBase&) = delete;
    InterfaceBase& operator=(const InterfaceBase&) = delete;

protected:
    constexpr InterfaceBase() = default;
    ~InterfaceBase() = default;
};

class ActionHandler;

// What a job says of itself: a location record and a text.
struct EntityDescription
{
    Common::Location location;
    std::u16string text;

    EntityDescription(const char16_t* descriptionText, const Common::Location& descriptionLocation)
        : location(descriptionLocation), text(descriptionText ? descriptionText : u"")
    {
    }
    EntityDescription(std::u16string descriptionText, const Common::Location& descriptionLocation)
        : location(descriptionLocation), text(std::move(descriptionText))
    {
    }
};

class DescriptiveEntity : public InterfaceBase
{
public:
    virtual ~DescriptiveEntity() = default;
    virtual EntityDescription Describe() const = 0;
};

class Job : public DescriptiveEntity
{
public:
    virtual uint64_t GetId() const = 0;
    virtual void Cancel() = 0;
};

class Action : public InterfaceBase
{
public:
    virtual ~Action() = default;
    virtual std::shared_ptr<Job> Perform(ActionHandler& handler) = 0;
};

class ActionHandler : public InterfaceBase
{
public:
    virtual ~ActionHandler() = default;
    virtual void Completed(const Common::Error& result) = 0;
};

} // namespace Async
