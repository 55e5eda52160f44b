// The "ObjectManager" stubs: identities, packets, replies and the
// component-information record.

#include "xidl/object_manager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/common/component_info_errors.h"
#include "enterprise/common/ipc/test_support/scripted_access_point.h"
#include "enterprise/common/ipc/test_support/test_units.h"
#include "enterprise/common/por/unit_constructor.h"
#include "enterprise/serialize/serialization_errors.h"
#include "testing/error_matchers.h"

namespace {

using IpcTesting::Content;
using IpcTesting::Packet;
using IpcTesting::ReadReply;
using IpcTesting::Unit;
using IpcTesting::WrittenPacket;
using Testing::ErrorIs;

const char* const kFile = "enterprise/management_server/test/connectivity/xidl/dml_object_registry_common";

TEST(ObjectManagerInfo, IsRegisteredBeforeMainAndAnswersItsTable)
{
    Core::ComponentInfo& info = GetObjectManagerComponentInfo();
    EXPECT_EQ(Core::ComponentInfoRegistry::Instance().Find(274), &info);
    EXPECT_EQ(info.GetComponentId(), 274);
    EXPECT_EQ(info.GetInterfaceVersion(), 1);
    EXPECT_EQ(info.GetReserved1(), 1);
    EXPECT_EQ(info.GetReserved2(), 1);
    EXPECT_EQ(info.GetReserved3(), 1);
    for (unsigned index = 1; index <= 3; ++index) {
        uint64_t word = 0;
        EXPECT_THAT(info.GetMethodInfo(index, &word), Testing::IsSuccessError());
        EXPECT_EQ(word, 0x0000000200000000ull);
    }
    for (unsigned index : {0u, 4u, 0xFFFFFFFFu}) {
        uint64_t word = 77;
        const Common::Error error = info.GetMethodInfo(index, &word);
        EXPECT_THAT(error,
                    ::testing::AllOf(ErrorIs(ComponentInfoErrors::kInvalidMethodIndex), Testing::HasText(u""),
                                     Testing::RaisedAt(kFile, "GetMethodInfo", 40),
                                     Testing::HasLineTag(0x8AB05459BB0B68F0ull)));
        EXPECT_EQ(word, 77u);
    }
}

TEST(ObjectManagerInfo, RegisteringAgainKeepsOneRecord)
{
    Core::RegisterComponentInfo(GetObjectManagerComponentInfo());
    EXPECT_EQ(Core::ComponentInfoRegistry::Instance().Find(274), &GetObjectManagerComponentInfo());
}

struct BuilderCase
{
    const char* method;
    int index;
    std::unique_ptr<Binding::Request> request;
    std::string content;
};

TEST(ObjectManagerRequests, CarryTheirIdentityAndArguments)
{
    BuilderCase cases[] = {
        {"RegisterObject", 1, Dml::MakeRegisterObjectRequest(Unit("o")),
         "<request_ObjectManager_RegisterObject><object>" + IpcTesting::UnitContent("o") +
             "</object></request_ObjectManager_RegisterObject>"},
        {"UpdateObject", 2, Dml::MakeUpdateObjectRequest(Unit("k"), Unit("p")),
         "<request_ObjectManager_UpdateObject><objectId>" + IpcTesting::UnitContent("k") + "</objectId><patch>" +
             IpcTesting::UnitContent("p") + "</patch></request_ObjectManager_UpdateObject>"},
        {"UnregisterObject", 3, Dml::MakeUnregisterObjectRequest(nullptr),
         "<request_ObjectManager_UnregisterObject><objectId><is_empty>1</is_empty></objectId>"
         "</request_ObjectManager_UnregisterObject>"},
    };
    for (BuilderCase& builderCase : cases) {
        SCOPED_TRACE(builderCase.method);
        ASSERT_TRUE(builderCase.request);
        EXPECT_EQ(builderCase.request->GetComponentId(), 274);
        EXPECT_EQ(builderCase.request->GetMethodIndex(), builderCase.index);
        EXPECT_EQ(builderCase.request->GetInterfaceVersion(), 1u);
        EXPECT_EQ(builderCase.request->GetTargetVersion(), -1);
        EXPECT_EQ(Content(WrittenPacket(*builderCase.request)), builderCase.content);
    }
}

TEST(ObjectManagerRequests, UpdateObjectPacketIsExactToTheByte)
{
    const Por::Construction::UnitFactory& factory = *Por::Construction::GetDefaultUnitFactory();
    // {a: Byte 5} is 55 43 50 0D 02 00 00 00 61 00 55 02 05 45 45; Nil is 55 00 45.
    std::shared_ptr<const Por::View::Unit> key(
        Por::Util::UnitConstructor(factory).Composite().Property(Por::Name("a")).Byte(5).End().End().GetUnit());
    std::shared_ptr<const Por::View::Unit> patch(factory.CreateNil());
    std::unique_ptr<Binding::Request> request = Dml::MakeUpdateObjectRequest(key, patch);
    ASSERT_TRUE(request);
    EXPECT_EQ(WrittenPacket(*request),
              "\xEF\xBB\xBF<XML_SERIALIZER><request_ObjectManager_UpdateObject>"
              "<objectId><is_empty>0</is_empty><value>VUNQDQIAAABhAFUCBUVF</value></objectId>"
              "<patch><is_empty>0</is_empty><value>VQBF</value></patch>"
              "</request_ObjectManager_UpdateObject></XML_SERIALIZER>");
}

class UpdateObjectReply : public ::testing::Test
{
protected:
    std::shared_ptr<const Por::View::Unit> key = Unit("k");
    std::shared_ptr<const Por::View::Unit> patch = Unit("p");
    std::unique_ptr<Binding::Request> request = Dml::MakeUpdateObjectRequest(key, patch);
};

TEST_F(UpdateObjectReply, IsFoundAfterAnUnrelatedElement)
{
    EXPECT_NO_THROW(ReadReply(*request,
                              Packet("<unrelated>1</unrelated><reply_ObjectManager_UpdateObject>"
                                     "<result>AQ==</result></reply_ObjectManager_UpdateObject>")));
}

TEST_F(UpdateObjectReply, FailsWhenResultIsNotFirst)
{
    try {
        ReadReply(*request,
                  Packet("<reply_ObjectManager_UpdateObject><other/><result>AQ==</result>"
                         "</reply_ObjectManager_UpdateObject>"));
        FAIL() << "read without its result";
    } catch (const Common::Error& error) {
        EXPECT_THAT(error, ErrorIs(SerializationErrors::kInconsistentMeta));
    }
}

TEST_F(UpdateObjectReply, EchoedArgumentsLeaveTheCallersUnitsAlone)
{
    EXPECT_NO_THROW(ReadReply(*request,
                              Packet("<reply_ObjectManager_UpdateObject><result></result><objectId>" +
                                     IpcTesting::UnitContent("x") +
                                     "</objectId><patch><is_empty>1</is_empty></patch>"
                                     "</reply_ObjectManager_UpdateObject>")));
    EXPECT_EQ(IpcTesting::LabelOf(key), "k");
    EXPECT_EQ(IpcTesting::LabelOf(patch), "p");
}

} // namespace
