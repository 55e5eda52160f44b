// Callables become actions, and job handles keep data alive.
//
//   Detail::ActionAdaptor<F, Data>  owns a copy of F (a std::function, a
//       std::bind or boost::bind expression, ...; called with the handler,
//       returning std::shared_ptr<Job>) and a data pack. The handle Perform
//       returns keeps the data pack alive while anybody holds it.
//   ActionRefAdaptor<F>             refers to a callable that lives elsewhere.
//   Detail::AttachLifeCycleData     ties a data pack to a handle: a new handle
//       to the same object whose deleter (Detail::LifeCycleCompletion) holds
//       the original handle and a heap copy of the data, and releases the
//       handle first and the data second.
//
// Data packs: EmptyData attaches nothing; a std::shared_ptr attaches only when
// not null; anything else (a std::function, a Detail::ConsolidatedData) always
// attaches. The handle's allocation is tried at most kAttachAttempts times on
// std::bad_alloc; after the last failure a job is cancelled and the handle is
// returned bare.
//
// Threading: no locks. Perform runs on the caller's thread; the deleter runs on
// whichever thread releases the last handle.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

#include "enterprise/common/async/job.h"

namespace Async {

// The absence of data.
struct EmptyData
{
};

namespace Detail {

// Up to four values kept alive together; destroyed fourth to first.
template <typename T1, typename T2 = EmptyData, typename T3 = EmptyData, typename T4 = EmptyData>
struct ConsolidatedData
{
    [[no_unique_address]] T1 first;
    [[no_unique_address]] T2 second;
    [[no_unique_address]] T3 third;
    [[no_unique_address]] T4 fourth;
};

// The deleter of a handle that keeps `data` alive beside `object`.
template <typename T, typename Data>
struct LifeCycleCompletion
{
    std::shared_ptr<Data> data;
    std::shared_ptr<T> object;

    LifeCycleCompletion(std::shared_ptr<Data> dataPack, std::shared_ptr<T> objectHandle) noexcept
        : data(std::move(dataPack)), object(std::move(objectHandle))
    {
    }
    LifeCycleCompletion(LifeCycleCompletion&&) noexcept = default;
    LifeCycleCompletion(const LifeCycleCompletion&) = default;
    // Members go in reverse order: the object handle first, then the data.
    ~LifeCycleCompletion() = default;

    void operator()(T*) noexcept
    {
        object.reset();
        data.reset();
    }
};

inline constexpr int kAttachAttempts = 8;

// Every allocation of a handle's control block goes through here; a test may
// make the next `count` of them on the calling thread fail with std::bad_alloc.
void SetHandleAllocationFailuresForTesting(int count) noexcept;
void* AllocateHandleBlock(std::size_t size);
void FreeHandleBlock(void* block) noexcept;

template <typename T>
struct HandleAllocator
{
    using value_type = T;
    HandleAllocator() noexcept = default;
    template <typename U>
    HandleAllocator(const HandleAllocator<U>&) noexcept
    {
    }
    T* allocate(std::size_t count) { return static_cast<T*>(AllocateHandleBlock(count * sizeof(T))); }
    void deallocate(T* block, std::size_t) noexcept { FreeHandleBlock(block); }
    template <typename U>
    bool operator==(const HandleAllocator<U>&) const noexcept
    {
        return true;
    }
};

// One attempt: a handle to `object`'s pointee that owns `object` and `data`.
// std::bad_alloc propagates; `object` and `data` are untouched then.
template <typename T, typename Data>
std::shared_ptr<T> MakeLifeCycleHandle(const std::shared_ptr<T>& object, const std::shared_ptr<Data>& data)
{
    return std::shared_ptr<T>(object.get(), LifeCycleCompletion<T, Data>(data, object), HandleAllocator<T>());
}

template <typename>
struct IsSharedPtr : std::false_type
{
};
template <typename X>
struct IsSharedPtr<std::shared_ptr<X>> : std::true_type
{
};

template <typename>
struct IsStdFunction : std::false_type
{
};
template <typename Signature>
struct IsStdFunction<std::function<Signature>> : std::true_type
{
};

// Whether `data` is to be attached at all.
template <typename Data>
bool HasLifeCycleData(const Data& data) noexcept
{
    if constexpr (std::is_same_v<Data, EmptyData>)
        return false;
    else if constexpr (IsSharedPtr<Data>::value)
        return data != nullptr;
    else
        return true;
}

// `object` with a heap copy of `data` tied to it. The copy's std::bad_alloc
// propagates (the handle is released without a cancel); the handle is tried
// kAttachAttempts times, then a job is cancelled and `object` returned bare.
template <typename T, typename Data>
std::shared_ptr<T> AttachLifeCycleData(std::shared_ptr<T> object, const Data& data)
{
    std::shared_ptr<Data> copy = std::make_shared<Data>(data);
    for (int attempt = 1; attempt <= kAttachAttempts; ++attempt) {
        try {
            return MakeLifeCycleHandle(object, copy);
        } catch (const std::bad_alloc&) {
        }
    }
    if constexpr (std::is_base_of_v<Job, T>) {
        if (object)
            object->Cancel();
    }
    return object;
}

// Owns a copy of the callable and of the data pack; the data pack is destroyed
// before the callable.
template <typename F, typename Data>
class BaseActionAdaptor : public Action
{
public:
    BaseActionAdaptor(F callable, Data data) : m_callable(std::move(callable)), m_data(std::move(data)) {}

    std::shared_ptr<Job> Perform(ActionHandler& handler) override
    {
        if constexpr (IsStdFunction<F>::value) {
            if (!m_callable)
                throw std::bad_function_call();
        }
        std::shared_ptr<Job> job = m_callable(handler);
        if (!HasLifeCycleData(m_data))
            return job;
        return AttachLifeCycleData(std::move(job), m_data);
    }

protected:
    ~BaseActionAdaptor() override = default;

private:
    F m_callable;
    [[no_unique_address]] Data m_data;
};

template <typename F, typename Data = EmptyData>
class ActionAdaptor final : public BaseActionAdaptor<F, Data>
{
public:
    explicit ActionAdaptor(F callable, Data data = Data())
        : BaseActionAdaptor<F, Data>(std::move(callable), std::move(data))
    {
    }
    ~ActionAdaptor() override = default;
};

// A new ActionAdaptor over `callable` and `data`; the caller owns it.
template <typename F, typename Data = EmptyData>
std::unique_ptr<Action> MakeActionAdaptor(F callable, Data data = Data())
{
    return std::make_unique<ActionAdaptor<F, Data>>(std::move(callable), std::move(data));
}

} // namespace Detail

// Performs a callable owned elsewhere, which must outlive every Perform.
template <typename F>
class ActionRefAdaptor final : public Action
{
public:
    explicit ActionRefAdaptor(F& callable) noexcept : m_callable(&callable) {}

    std::shared_ptr<Job> Perform(ActionHandler& handler) override { return (*m_callable)(handler); }

private:
    F* m_callable;
};

} // namespace Async
