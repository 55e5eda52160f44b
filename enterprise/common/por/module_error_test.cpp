#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "core/common/location.h"
#include "core/common/message_catalogue.h"
#include "enterprise/common/por/module_error.h"
#include "enterprise/common/por/por_errors.h"
#include "testing/error_matchers.h"

namespace {

using ::testing::AllOf;
using namespace Testing;

constexpr Common::SourceFile kSource("enterprise/common/por/utils", 0xA6FE40D1C337F421ull - 660);

TEST(PorError, CatalogueTextWithArgumentsAtTheTraceLevel)
{
    const Common::Error error = Por::MakePorError(PorErrors::kPropertyNotFound, PorErrors::kPropertyNotFoundText,
                                                  kSource.At("CheckPropertyValidity", 660), {u"Name"});
    EXPECT_THAT(error,
                AllOf(ErrorIs(0xFA000D), HasText(u"POR: Property 'Name' cannot be found."),
                      RaisedAt("enterprise/common/por/utils", "CheckPropertyValidity", 660),
                      HasLineTag(0xA6FE40D1C337F421ull)));
    EXPECT_STREQ(error.GetParameterNames(), "TraceLevel,$module");
    EXPECT_EQ(error.GetIntegerParameter("TraceLevel"), 1u);
}

TEST(PorError, WithoutArgumentsTheCatalogueTextIsHeldByReference)
{
    const Common::Error error = Por::MakePorError(PorErrors::kOutOfRange, PorErrors::kOutOfRangeText,
                                                  kSource.At("CheckOutOfRange", 53));
    EXPECT_THAT(error, HasText(u"POR: Out of range."));
    const auto* record = reinterpret_cast<const Common::TraceLevelErrorRecord*>(error.GetRecord());
    EXPECT_EQ(reinterpret_cast<const char16_t*>(record->text), Common::GetMessageText(PorErrors::kOutOfRangeText));
}

TEST(PorError, PlainTextKind)
{
    const Common::Error error = Por::MakePorError(PorErrors::kGeneral, PorErrors::kPropertyProcessingText,
                                                  kSource.At("PropertyProcessingError", 62), {u"p"},
                                                  Por::RecordKind::WideText);
    EXPECT_THAT(error, HasText(u"POR: Property 'p' processing error has occurred."));
    EXPECT_STREQ(error.GetParameterNames(), "$module");
}

TEST(PorError, ThrownAsModuleErrorAndCaughtAsError)
{
    try {
        Por::ThrowModuleError(PorErrors::kNullUnit, PorErrors::kNullUnitText, kSource.At("Set", 104));
    } catch (const Por::ModuleError& error) {
        EXPECT_THAT(error, AllOf(ErrorIs(0xFA000B), HasText(u"POR: Null units are forbidden.")));
    }
    EXPECT_THROW(Por::ThrowModuleError(PorErrors::kNullUnit, PorErrors::kNullUnitText, kSource.At("Set", 104)),
                 Common::Error);
}

} // namespace
