#include "enterprise/common/dml/service_holder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "enterprise/common/dml/dml_errors.h"
#include "enterprise/common/dml/entry_point.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/test_support/thrown_errors.h"
#include "testing/error_matchers.h"

namespace {

using Testing::ErrorIs;
using Testing::HasText;
using Testing::RaisedAt;

constexpr Common::SourceFile kTestSource("enterprise/common/dml/holder_caller", 0x1000);

// Stand-ins whose addresses are all the getters look at.
Dml::PostOffice* const kPostOffice = reinterpret_cast<Dml::PostOffice*>(0x10);
Dml::ObjectRegistry* const kRegistry = reinterpret_cast<Dml::ObjectRegistry*>(0x20);

TEST(ServiceHolder, GettersHandOutTheServices)
{
    const Por::Construction::UnitFactory* factory = Por::Construction::GetDefaultUnitFactory();
    const Dml::ServiceHolder holder(kPostOffice, kRegistry, factory);
    const Common::Location here = kTestSource.At("Caller", 1);
    EXPECT_EQ(holder.GetPostOffice(here), kPostOffice);
    EXPECT_EQ(holder.GetObjectRegistry(here), kRegistry);
    EXPECT_EQ(holder.GetUnitFactory(here), factory);
}

TEST(ServiceHolder, AMissingServiceThrowsAtTheCallersLocation)
{
    const Dml::ServiceHolder none(nullptr, nullptr, nullptr);
    const Dml::ServiceHolder reports(kPostOffice, Por::Construction::GetDefaultUnitFactory());
    struct Case
    {
        const char16_t* text;
        std::function<void()> call;
    };
    const Case cases[] = {
        {u"DML: Unproper use. Missing PostOffice.", [&] { (void)none.GetPostOffice(kTestSource.At("Report", 119)); }},
        {u"DML: Unproper use. Missing ObjectRegistry.",
         [&] { (void)reports.GetObjectRegistry(kTestSource.At("Report", 119)); }},
        {u"DML: Unproper use. Missing UnitFactory.", [&] { (void)none.GetUnitFactory(kTestSource.At("Report", 119)); }},
    };
    for (const Case& c : cases) {
        const Common::Error error = PorTesting::ErrorOf(c.call);
        EXPECT_THAT(error, ErrorIs(Dml::DML_ERROR_IMPROPER_USE));
        EXPECT_THAT(error, HasText(c.text));
        EXPECT_THAT(error, RaisedAt("enterprise/common/dml/holder_caller", "Report", 119));
        EXPECT_EQ(error.GetLocation().LineTag, 0x1000u + 119);
    }
}

TEST(EntryPoint, KeepsTheLocationWithoutTheFunctionAndSharesItsData)
{
    const Core::EntryPoint caller(kTestSource.At("Main", 42));
    EXPECT_EQ(caller.GetLocationId(), 0x1000u + 42);
    EXPECT_EQ(caller.GetSourceFile(), "enterprise/common/dml/holder_caller");
    EXPECT_EQ(caller.GetLine(), 42u);
    EXPECT_FALSE(caller.GetData());
    EXPECT_EQ(caller.GetDataSize(), 0u);
    // The empty array still owns a share count, which copies share.
    EXPECT_EQ(caller.GetData().use_count(), 1);
    const Core::EntryPoint copy(caller);
    EXPECT_EQ(caller.GetData().use_count(), 2);
    EXPECT_EQ(copy.GetLocationId(), caller.GetLocationId());
    EXPECT_EQ(copy.GetSourceFile(), caller.GetSourceFile());
}

} // namespace
