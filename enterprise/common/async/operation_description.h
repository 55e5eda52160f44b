// Operation descriptions: how the framework turns an exception thrown by
// foreign code (an action's Perform, a completion handler, a step handler, a
// synchronous work function) into a Common::Error that names the operation.
//
// Only Common::Error is caught anywhere in the framework; every other
// exception passes through unchanged.
//
// Declaration order of OperationDescription is the binary order; never insert
// or reorder.
//
// Threading: descriptions are built on the stack of the catching thread or
// hold constant data; the functions have no state.
#pragma once

#include <exception>
#include <functional>
#include <string>

#include "core/common/location.h"
#include "core/common/non_copyable.h"
#include "enterprise/common/async/job.h"
#include "platform/objrep/common_error.h"

namespace Async {

class OperationDescription : public Common::NonCopyable
{
public:
    virtual ~OperationDescription() = default;
    virtual Common::Error DescribeException(const Common::Error& caught) = 0;
    virtual Common::Error DescribeStdException(const std::exception& caught) = 0;
    virtual Common::Error DescribeUnknownException() = 0;
};

// Describes with fixed texts held by pointer (they must outlive the
// description; catalogue texts do). The 8-bit forms are used, widened byte by
// byte, when the UTF-16 form is null.
class TextDescription : public OperationDescription
{
public:
    TextDescription(unsigned code, const char16_t* exceptionText, const char16_t* stdExceptionText,
                    const char16_t* unknownExceptionText, const Common::Location& location) noexcept;

    // The code, the exception text and the location, with `caught` chained.
    Common::Error DescribeException(const Common::Error& caught) override;
    // The template with "{0}" = what(), nothing chained.
    Common::Error DescribeStdException(const std::exception& caught) override;
    Common::Error DescribeUnknownException() override;

    void SetNarrowTexts(const char* exceptionText, const char* stdExceptionText,
                        const char* unknownExceptionText) noexcept;

private:
    Common::Location m_location;
    unsigned m_code;
    const char16_t* m_exceptionText;
    const char16_t* m_stdExceptionText;
    const char16_t* m_unknownExceptionText;
    const char* m_exceptionText8;
    const char* m_stdExceptionText8;
    const char* m_unknownExceptionText8;
};

// Wraps another description (not owned) and catches what it throws: a failing
// DescribeException yields a copy of the caught error, the other two the
// out-of-memory error.
class SafeOperationDescription : public OperationDescription
{
public:
    explicit SafeOperationDescription(OperationDescription& description) noexcept : m_description(description) {}

    Common::Error DescribeException(const Common::Error& caught) override;
    Common::Error DescribeStdException(const std::exception& caught) override;
    Common::Error DescribeUnknownException() override;

private:
    OperationDescription& m_description;
};

// Called only inside a catch handler: rethrows the exception being handled,
// catches Common::Error only and returns what a SafeOperationDescription over
// `description` makes of it. Any other exception propagates.
Common::Error DescribeCurrentException(OperationDescription& description);
// Called only inside a catch handler: describes the exception being handled,
// whatever its type, through a SafeOperationDescription over `description`
// (DescribeException, DescribeStdException or DescribeUnknownException).
// Never throws: a description that fails in another way than with a
// Common::Error gives the out-of-memory error. For the places that account for
// a foreign exception before they let it pass on.
Common::Error DescribeAnyCurrentException(OperationDescription& description) noexcept;

// Calls `function` and returns its result, or the description of a
// Common::Error it throws. An empty function throws std::bad_function_call.
Common::Error SafeRun(const std::function<Common::Error()>& function, OperationDescription& description);
// SafeRun, then handler.Completed with its result.
void SafeRunAndComplete(const std::function<Common::Error()>& function, OperationDescription& description,
                        ActionHandler& handler);

// The message template with "{0}" = the operation name.
std::u16string FormatOperationText(const char16_t* messageTemplate, const std::u16string& operation);
// The same with "{1}" = the UTF-8 `what` text converted (null: empty).
std::u16string FormatOperationStdText(const char16_t* messageTemplate, const std::u16string& operation,
                                      const char* what);
// The template with "{0}" = the UTF-8 `what` text converted (null: empty).
std::u16string FormatWhatText(const char16_t* messageTemplate, const char* what);

} // namespace Async
