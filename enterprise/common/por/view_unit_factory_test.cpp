// The view-unit factory reached through Por::GetViewUnitFactory.

#include <gtest/gtest.h>

#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/test_support/every_kind.h"
#include "enterprise/common/por/unit_copier.h"
#include "enterprise/common/por/unit_equality.h"
#include "enterprise/common/por/value_type_index.h"
#include "enterprise/common/por/view_unit_factory.h"

namespace {

// Asked while the program's statics are still being initialized.
const Por::Construction::UnitFactory* const g_askedByAStaticInitializer = Por::GetViewUnitFactory();

TEST(ViewUnitFactory, IsReadyForStaticInitializers)
{
    ASSERT_NE(g_askedByAStaticInitializer, nullptr);
    EXPECT_EQ(g_askedByAStaticInitializer, Por::GetViewUnitFactory());
}

TEST(ViewUnitFactory, IsOneProcessWideFactory)
{
    const Por::Construction::UnitFactory* factory = Por::GetViewUnitFactory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(Por::GetViewUnitFactory(), factory);
    EXPECT_NE(factory, Por::Construction::GetDefaultUnitFactory());
}

TEST(ViewUnitFactory, MakesFullUnitsOfEveryKind)
{
    const Por::Construction::UnitFactory& factory = *Por::GetViewUnitFactory();
    for (int kind = 0; kind < 17; ++kind)
        EXPECT_EQ(Por::Util::GetValueTypeIndex(*PorTesting::MakeUnitOfKind(factory, kind)), kind);
}

// view -> in-memory -> view gives a unit equal to the original.
TEST(ViewUnitFactory, CopiesToAndFromInMemoryUnitsAreEqual)
{
    const Por::Construction::UnitFactory& view = *Por::GetViewUnitFactory();
    const Por::Construction::InMemoryUnitFactory inMemory;
    const PorTesting::UnitPtr original = PorTesting::MakeRichUnit(view);
    const PorTesting::UnitPtr middle = Por::Util::CopyUnit(*original, inMemory);
    const PorTesting::UnitPtr back = Por::Util::CopyUnit(*middle, view);
    EXPECT_TRUE(Por::Util::UnitsEqual(*middle, *original));
    EXPECT_TRUE(Por::Util::UnitsEqual(*back, *original));
}

} // namespace
