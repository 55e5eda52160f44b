#include "enterprise/common/async/operation_description.h"

#include <memory>
#include <vector>

#include "core/common/error.h"
#include "core/common/message_format.h"
#include "core/common/text_conversion.h"

namespace Async {

namespace {

std::u16string FromUtf8OrEmpty(const char* text)
{
    std::u16string converted;
    if (text)
        (void)Common::ConvertUtf8ToUtf16(converted, text, Common::kWholeText); // ill-formed bytes become U+FFFD
    return converted;
}

// The UTF-16 text, or the 8-bit one widened byte by byte (null when both are).
struct WideText
{
    std::unique_ptr<char16_t[]> widened;
    const char16_t* text;

    WideText(const char16_t* wide, const char* narrow)
        : widened(wide ? nullptr : Common::WidenCString(narrow)), text(wide ? wide : widened.get())
    {
    }
};

} // namespace

TextDescription::TextDescription(unsigned code, const char16_t* exceptionText, const char16_t* stdExceptionText,
                                 const char16_t* unknownExceptionText, const Common::Location& location) noexcept
    : m_location(location), m_code(code), m_exceptionText(exceptionText), m_stdExceptionText(stdExceptionText),
      m_unknownExceptionText(unknownExceptionText), m_exceptionText8(nullptr), m_stdExceptionText8(nullptr),
      m_unknownExceptionText8(nullptr)
{
}

void TextDescription::SetNarrowTexts(const char* exceptionText, const char* stdExceptionText,
                                     const char* unknownExceptionText) noexcept
{
    m_exceptionText8 = exceptionText;
    m_stdExceptionText8 = stdExceptionText;
    m_unknownExceptionText8 = unknownExceptionText;
}

Common::Error TextDescription::DescribeException(const Common::Error& caught)
{
    const WideText text(m_exceptionText, m_exceptionText8);
    Common::Error described(m_code, text.text, m_location);
    described.AddCause(caught);
    return described;
}

Common::Error TextDescription::DescribeStdException(const std::exception& caught)
{
    const WideText messageTemplate(m_stdExceptionText, m_stdExceptionText8);
    const std::u16string text = FormatWhatText(messageTemplate.text, caught.what());
    return Common::Error(m_code, text.c_str(), m_location);
}

Common::Error TextDescription::DescribeUnknownException()
{
    const WideText text(m_unknownExceptionText, m_unknownExceptionText8);
    return Common::Error(m_code, text.text, m_location);
}

Common::Error SafeOperationDescription::DescribeException(const Common::Error& caught)
{
    try {
        return m_description.DescribeException(caught);
    } catch (const Common::Error&) {
        return caught;
    }
}

Common::Error SafeOperationDescription::DescribeStdException(const std::exception& caught)
{
    try {
        return m_description.DescribeStdException(caught);
    } catch (const Common::Error&) {
        return Common::Error(Common::GetOutOfMemoryErrorRecord());
    }
}

Common::Error SafeOperationDescription::DescribeUnknownException()
{
    try {
        return m_description.DescribeUnknownException();
    } catch (const Common::Error&) {
        return Common::Error(Common::GetOutOfMemoryErrorRecord());
    }
}

Common::Error DescribeCurrentException(OperationDescription& description)
{
    try {
        throw;
    } catch (const Common::Error& caught) {
        SafeOperationDescription safe(description);
        return safe.DescribeException(caught);
    }
}

Common::Error DescribeAnyCurrentException(OperationDescription& description) noexcept
{
    SafeOperationDescription safe(description);
    try {
        try {
            throw;
        } catch (const Common::Error& caught) {
            return safe.DescribeException(caught);
        } catch (const std::exception& caught) {
            return safe.DescribeStdException(caught);
        } catch (...) {
            return safe.DescribeUnknownException();
        }
    } catch (...) {
        return Common::Error(Common::GetOutOfMemoryErrorRecord());
    }
}

Common::Error SafeRun(const std::function<Common::Error()>& function, OperationDescription& description)
{
    try {
        return function();
    } catch (const Common::Error&) {
        return DescribeCurrentException(description);
    }
}

void SafeRunAndComplete(const std::function<Common::Error()>& function, OperationDescription& description,
                        ActionHandler& handler)
{
    handler.Completed(SafeRun(function, description));
}

std::u16string FormatOperationText(const char16_t* messageTemplate, const std::u16string& operation)
{
    return Common::FormatMessage(messageTemplate ? messageTemplate : u"", {operation});
}

std::u16string FormatOperationStdText(const char16_t* messageTemplate, const std::u16string& operation,
                                      const char* what)
{
    return Common::FormatMessage(messageTemplate ? messageTemplate : u"", {operation, FromUtf8OrEmpty(what)});
}

std::u16string FormatWhatText(const char16_t* messageTemplate, const char* what)
{
    return Common::FormatMessage(messageTemplate ? messageTemplate : u"", {FromUtf8OrEmpty(what)});
}

} // namespace Async
