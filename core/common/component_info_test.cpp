#include "core/common/component_info.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "testing/vtable_slot.h"

namespace {

class TestInfo : public Core::ComponentInfo
{
public:
    explicit TestInfo(int id) : m_id(id) {}
    int GetComponentId() override { return m_id; }
    int GetReserved1() override { return 1; }
    Common::Error GetMethodInfo(unsigned, uint64_t*) override { return Common::Error(); }
    int GetInterfaceVersion() override { return 1; }
    int GetReserved2() override { return 1; }
    int GetReserved3() override { return 1; }

private:
    int m_id;
};

TEST(ComponentInfoSlots, InterfaceKeepsItsTableOrder)
{
    using Core::ComponentInfo;
    using Testing::VirtualSlot;
    EXPECT_EQ(Testing::SlotOrderMismatches({
                  {"GetComponentId", VirtualSlot(&ComponentInfo::GetComponentId)},
                  {"GetReserved1", VirtualSlot(&ComponentInfo::GetReserved1)},
                  {"GetMethodInfo", VirtualSlot(&ComponentInfo::GetMethodInfo)},
                  {"GetInterfaceVersion", VirtualSlot(&ComponentInfo::GetInterfaceVersion)},
                  {"GetReserved2", VirtualSlot(&ComponentInfo::GetReserved2)},
                  {"GetReserved3", VirtualSlot(&ComponentInfo::GetReserved3)},
                  {"~ComponentInfo", Testing::kDestructorPair},
              }),
              "");
    EXPECT_EQ(Testing::TableSize<ComponentInfo>(), 8u);
}

TEST(ComponentInfoRegistry, SecondRegistrationReplacesTheFirst)
{
    static TestInfo first(274);
    static TestInfo second(274);
    static TestInfo other(271);
    Core::RegisterComponentInfo(&first);
    Core::RegisterComponentInfo(other);
    EXPECT_EQ(Core::ComponentInfoRegistry::Instance().Find(274), &first);
    Core::RegisterComponentInfo(second);
    EXPECT_EQ(Core::ComponentInfoRegistry::Instance().Find(274), &second);
    EXPECT_EQ(Core::ComponentInfoRegistry::Instance().Find(271), &other);
    EXPECT_EQ(Core::ComponentInfoRegistry::Instance().Find(999), nullptr);
    EXPECT_EQ(&Core::ComponentInfoRegistry::Instance(), &Core::ComponentInfoRegistry::Instance());
}

TEST(ComponentInfoRegistryThreads, ConcurrentRegistrationsAllArrive)
{
    static std::vector<TestInfo> infos;
    for (int id = 0; id < 64; ++id)
        infos.emplace_back(5000 + id);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = t; i < 64; i += 4)
                Core::RegisterComponentInfo(infos[i]);
        });
    for (std::thread& thread : threads)
        thread.join();
    for (int id = 0; id < 64; ++id)
        EXPECT_EQ(Core::ComponentInfoRegistry::Instance().Find(5000 + id), &infos[id]);
}

} // namespace
