#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/test_support/make_units.h"
#include "enterprise/common/por/test_support/thrown_errors.h"
#include "enterprise/common/por/typed_access.h"
#include "enterprise/common/por/unit_equality.h"
#include "enterprise/common/por/unit_holder.h"
#include "enterprise/common/por/utils.h"
#include "testing/error_matchers.h"

namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using namespace Testing;
using PorTesting::UnitPtr;

class TraitViews : public ::testing::Test
{
protected:
    // "name=Word" of the traits handed over, stopping after `limit`.
    static std::vector<std::string> Seen(const Por::View::Traits& traits, const Por::Name* only = nullptr,
                                         size_t limit = 100)
    {
        std::vector<std::string> seen;
        auto processor = Por::ProcessorOf<const Por::View::Trait>([&](const Por::View::Trait& trait) {
            seen.push_back(std::string(trait.GetName().GetText()) + "=" +
                           std::to_string(Por::Util::GetUnitValue<unsigned short>(trait.GetValue())));
            return seen.size() == limit;
        });
        if (only)
            traits.ForEachNamed(*only, processor);
        else
            traits.ForEach(processor);
        return seen;
    }

    std::unique_ptr<Por::Construction::UnitFactory> factory = Por::Construction::CreateInMemoryUnitFactory();
    PorTesting::Make m{*factory};
};

TEST_F(TraitViews, ExcludeHidesOneNameAndNests)
{
    UnitPtr unit = m.With(m.With(m.With(m.DWord(9), "a", m.Word(1)), "b", m.Word(2)), "b", m.Word(3));
    const Por::View::ExcludeTraitUnit withoutB(*unit, "b");
    EXPECT_THAT(Seen(withoutB.traits()), ElementsAre("a=1"));
    const Por::Name b("b");
    const Por::Name a("a");
    EXPECT_TRUE(Seen(withoutB.traits(), &b).empty());
    EXPECT_THAT(Seen(withoutB.traits(), &a), ElementsAre("a=1"));
    EXPECT_TRUE(Por::Util::ValuesEqual(withoutB, *m.DWord(9)));

    const Por::View::ExcludeTraitUnit withoutA(*unit, "a");
    EXPECT_THAT(Seen(withoutA.traits(), nullptr, 1), ElementsAre("b=2")); // the caller still stops it
    const Por::View::ExcludeTraitUnit neither(withoutA, "b");
    EXPECT_TRUE(Seen(neither.traits()).empty());

    const Por::View::SieveTraitsUnit onlyB(*unit, "b", false);
    EXPECT_THAT(Seen(onlyB.traits()), ElementsAre("b=2", "b=3"));
}

TEST_F(TraitViews, SafeUnitHolder)
{
    const PorTesting::Thrown empty = PorTesting::ThrownBy([] { Por::View::SafeUnitHolder holder(nullptr); });
    EXPECT_THAT(empty.error,
                AllOf(ErrorIs(0xFA001F), HasText(u""), RaisedAt("enterprise/common/por/unit_holder", "Validate", 103),
                      HasLineTag(0x7511CF3635D2F8B0ull)));

    UnitPtr unit = m.Composite(m.Prop("a", m.Word(1)));
    const Por::View::SafeUnitHolder copy(*unit);
    Por::Util::SetUnitValue<unsigned short>(Por::Util::GetProperty(*unit, "a").GetValue(), 5);
    EXPECT_TRUE(Por::Util::UnitsEqual(*copy.Get(), *m.Composite(m.Prop("a", m.Word(1)))));

    std::shared_ptr<const Por::View::Unit> shared = m.Word(2);
    const Por::View::SafeUnitHolder held(shared);
    const Por::View::SafeUnitHolder again(held);
    EXPECT_EQ(again.Get(), shared.get());
    EXPECT_EQ(shared.use_count(), 3);
}

} // namespace
