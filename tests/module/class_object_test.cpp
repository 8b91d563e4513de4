// Class objects, object creation and the module count.
#include <gtest/gtest.h>

#include "tests/support/harbinet_module.h"

namespace
{
TEST(ClassObjectTest, CreatesBothClassesAndReturnsToIdle)
{
    GHarbinetModule& module = GHarbinetModule::Instance();
    ASSERT_EQ(S_OK, module.CanUnloadNow());
    IHarbinet* pHarbinet = module.CreateHarbinet();
    IHarbinet* pDistributed = module.CreateDistributed();
    ASSERT_NE(nullptr, pHarbinet);
    ASSERT_NE(nullptr, pDistributed);
    EXPECT_EQ(S_FALSE, module.CanUnloadNow());
    EXPECT_EQ(0u, pHarbinet->Release());
    EXPECT_EQ(0u, pDistributed->Release());
    EXPECT_EQ(S_OK, module.CanUnloadNow());
}
}
