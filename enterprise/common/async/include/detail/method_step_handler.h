// Async::Detail::ObjectMethodHandler<T>: the standard step handler, which calls
// one member function of the owner job T. The owner sets exactly one of three
// forms before each step (and may change it between steps):
//   OnResult    Common::Error (T::*)(const Common::Error&)  takes failures too
//   OnDone      Common::Error (T::*)()                       its own result
//   OnDoneVoid  void (T::*)()                                success
// With none or more than one set it answers ASYNC_ERROR_RESULT_INVALID. Without
// an object it reports a misuse and returns the result unchanged.
//
// Threading: called by the step control on the thread that processes the step.
#pragma once

#include "core/common/assertion.h"
#include "enterprise/common/async/error.h"
#include "enterprise/common/async/step_control.h"

namespace Async::Detail {

template <typename T>
class ObjectMethodHandler : public StepHandler
{
public:
    using OnResultMethod = Common::Error (T::*)(const Common::Error&);
    using OnDoneMethod = Common::Error (T::*)();
    using OnDoneVoidMethod = void (T::*)();

    ObjectMethodHandler() = default;
    explicit ObjectMethodHandler(T* object) : m_object(object) {}

    void SetObject(T* object) { m_object = object; }
    // Each sets one form and clears the other two.
    void Set(OnResultMethod method) { Assign(method, nullptr, nullptr); }
    void Set(OnDoneMethod method) { Assign(nullptr, method, nullptr); }
    void Set(OnDoneVoidMethod method) { Assign(nullptr, nullptr, method); }
    void Assign(OnResultMethod onResult, OnDoneMethod onDone, OnDoneVoidMethod onDoneVoid)
    {
        m_onResult = onResult;
        m_onDone = onDone;
        m_onDoneVoid = onDoneVoid;
    }

    Common::Error OnStepCompleted(const Common::Error& stepResult) override
    {
        if (!m_object) {
            if (stepResult.IsSuccess())
                Common::ReportAssertion("result != Common::Success && \"Logic broken\"", kSourcePath, 65);
            Common::ReportAssertion(
                "!\"Don't think about rollback in the middle of action. Initialize it from the begining.\"",
                kSourcePath, 67);
            return stepResult;
        }
        const int set = (m_onResult != nullptr) + (m_onDone != nullptr) + (m_onDoneVoid != nullptr);
        if (set != 1)
            return GetInvalidResultError();
        if (m_onResult)
            return (m_object->*m_onResult)(stepResult);
        if (m_onDone)
            return (m_object->*m_onDone)();
        (m_object->*m_onDoneVoid)();
        return Common::Error();
    }
    bool CanHandleFailure() override { return m_onResult != nullptr; }

private:
    static constexpr const char* kSourcePath = "../../../enterprise/common/async/include/detail/method_step_handler";

    OnResultMethod m_onResult = nullptr;
    OnDoneMethod m_onDone = nullptr;
    OnDoneVoidMethod m_onDoneVoid = nullptr;
    T* m_object = nullptr;
};

} // namespace Async::Detail
