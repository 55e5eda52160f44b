#include "enterprise/common/por/types_mismatch.h"

#include <new>
#include <string>

#include "core/common/location.h"
#include "core/common/message_format.h"
#include "core/common/stack_trace.h"
#include "core/common/text_conversion.h"
#include "core/common/trace.h"
#include "enterprise/common/por/module_error.h"
#include "enterprise/common/por/por_errors.h"

namespace Por::Util {

namespace {

constexpr Common::SourceFile kSource("enterprise/common/por/types_mismatch", 0x40b7f506922567cb);
constexpr unsigned kMaxLoggedFrames = 32;

std::u16string KindName(int kind)
{
    return GetValueTypeName(static_cast<unsigned>(kind));
}

// Runs `make` (which may run out of memory) and gives the out-of-memory error
// in place of an exception.
template <typename Make>
Common::Error MakeOrOutOfMemory(Make make) noexcept
{
    try {
        return make();
    } catch (const std::bad_alloc&) {
        return Common::Error(Common::GetOutOfMemoryErrorRecord());
    }
}

} // namespace

namespace Detail {

bool TraceStackFrame(unsigned frame, const char* line, void*)
{
    const std::u16string text = Common::FormatMessage(
        u"Stack frame {0}: '{1}'", {Common::FromUtf8(std::to_string(frame).c_str()), Common::FromUtf8(line)});
    Common::TraceText(Common::TRACE_INFORMATION, 0, 0, text.c_str());
    return true;
}

void LogStackTrace(const char* from)
{
    const std::u16string text = Common::FormatMessageWithArgument(u"Stack logging from '{0}'", Common::FromUtf8(from));
    Common::TraceText(Common::TRACE_INFORMATION, 0, 0, text.c_str());
    (void)Common::WalkStackTrace(kMaxLoggedFrames, &TraceStackFrame, nullptr); // best effort: nothing to report
}

Common::Error MakeTypeMismatchError() noexcept
{
    return MakeOrOutOfMemory([] {
        LogStackTrace("Por::Util::Detail::MakeTypeMismatchError");
        return MakePorError(PorErrors::kTypeMismatch, PorErrors::kStructureMismatchText,
                            kSource.At("MakeTypeMismatchError", 50));
    });
}

Common::Error MakeTypeMismatchError(int expected, int actual) noexcept
{
    return MakeOrOutOfMemory([&] {
        LogStackTrace("Por::Util::Detail::MakeTypeMismatchError");
        return MakePorError(PorErrors::kTypeMismatch, PorErrors::kTypeMismatchText,
                            kSource.At("MakeTypeMismatchError", 62), {KindName(expected), KindName(actual)});
    });
}

Common::Error MakePropertyTypeMismatchError(const Name& property, int expected, int actual) noexcept
{
    return MakeOrOutOfMemory([&] {
        LogStackTrace("Por::Util::Detail::MakePropertyTypeMismatchError");
        return MakePorError(PorErrors::kTypeMismatch, PorErrors::kPropertyTypeMismatchText,
                            kSource.At("MakePropertyTypeMismatchError", 69),
                            {Common::FromUtf8(property.GetText()), KindName(expected), KindName(actual)});
    });
}

void ThrowTypeMismatchError()
{
    throw ModuleError(MakeTypeMismatchError());
}

void ThrowTypeMismatchError(int expected, int actual)
{
    throw ModuleError(MakeTypeMismatchError(expected, actual));
}

} // namespace Detail

void TypeMismatchThrowingVisitor::Throw(int actual) const
{
    throw Common::Error(Detail::MakeTypeMismatchError(m_expected, actual));
}

} // namespace Por::Util
