// The default factory is usable from the static initializer of any file: its
// lock needs no construction.

#include <gtest/gtest.h>

#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/value_type_index.h"

namespace {

Por::Construction::UnitFactory* const g_startupFactory = Por::Construction::GetDefaultUnitFactory();
const int g_startupKind = Por::Util::GetValueTypeIndex(*g_startupFactory->CreateQWord(1));

TEST(DefaultUnitFactory, WorksFromAStaticInitializer)
{
    EXPECT_EQ(g_startupFactory, Por::Construction::GetDefaultUnitFactory());
    EXPECT_EQ(g_startupKind, 8);
}

} // namespace
