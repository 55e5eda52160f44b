// Type-mismatch errors and the single-kind visitor bases.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/common/text_conversion.h"
#include "core/common/trace.h"
#include "enterprise/common/por/array_visitor.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/module_error.h"
#include "enterprise/common/por/test_support/every_kind.h"
#include "enterprise/common/por/types_mismatch.h"
#include "testing/error_matchers.h"

namespace {

using namespace Por;
using namespace PorTesting;
using namespace Testing;
using ::testing::AllOf;

const Construction::InMemoryUnitFactory kFactory;
constexpr const char* kFile = "enterprise/common/por/types_mismatch";

TEST(TypeMismatchErrors, NameTheKindsAtTheirLocations)
{
    EXPECT_THAT(Util::Detail::MakeTypeMismatchError(),
                AllOf(ErrorIs(0xFA000A), HasText(u"POR: Object internal structure mismatch."),
                      RaisedAt(kFile, "MakeTypeMismatchError", 50), HasLineTag(0x40b7f506922567fdull)));
    EXPECT_THAT(Util::Detail::MakeTypeMismatchError(16, 17),
                AllOf(ErrorIs(0xFA000A),
                      HasText(u"POR: There is a mismatch in object internal structure. Expected object type is "
                              u"'composite', actual object type is '17'."),
                      RaisedAt(kFile, "MakeTypeMismatchError", 62), HasLineTag(0x40b7f50692256809ull)));
    EXPECT_THAT(Util::Detail::MakePropertyTypeMismatchError(Name(std::string("Size")), 6, 13),
                AllOf(ErrorIs(0xFA000A),
                      HasText(u"POR: There is a mismatch in object property 'Size'. Expected property type is "
                              u"'dword', actual property type is 'string'."),
                      RaisedAt(kFile, "MakePropertyTypeMismatchError", 69), HasLineTag(0x40b7f50692256810ull)));
    EXPECT_EQ(Util::Detail::MakeTypeMismatchError(0, 14).GetIntegerParameter("TraceLevel"), 1u);
}

TEST(TypeMismatchErrors, ThrowersRaiseModuleErrors)
{
    EXPECT_THROW(Util::Detail::ThrowTypeMismatchError(), ModuleError);
    try {
        Util::Detail::ThrowTypeMismatchError(6, 13);
    } catch (const ModuleError& error) {
        EXPECT_THAT(error,
                    HasText(u"POR: There is a mismatch in object internal structure. Expected object type "
                            u"is 'dword', actual object type is 'string'."));
    }
}

// Every kind but the accepted one raises a plain Common::Error naming both.
TEST(TypeMismatchErrors, SingleKindVisitorsRaiseAPlainErrorForEveryOtherKind)
{
    for (int kind = 0; kind < 17; ++kind) {
        SCOPED_TRACE(kind);
        UnitPtr unit = MakeUnitOfKind(kFactory, kind);
        const std::u16string actual = Common::FromUtf8(kValueKindLowerNames[kind]);
        Construction::CompositeVisitor composites;
        Construction::ArrayVisitor arrays;
        View::ArrayVisitor viewArrays;
        struct Case
        {
            std::function<void()> accept;
            bool accepted;
            std::u16string expected;
        };
        const Case cases[] = {
            {[&] { unit->Accept(composites); }, kind == 16, u"composite"},
            {[&] { unit->Accept(arrays); }, kind == 15, u"array"},
            {[&] { static_cast<const View::Unit&>(*unit).Accept(viewArrays); }, kind == 15, u"array"}};
        for (const Case& c : cases) {
            if (c.accepted) {
                EXPECT_NO_THROW(c.accept());
                continue;
            }
            try {
                c.accept();
                ADD_FAILURE() << "no exception";
            } catch (const ModuleError&) {
                ADD_FAILURE() << "a plain Common::Error is expected";
            } catch (const Common::Error& error) {
                EXPECT_THAT(error,
                            AllOf(ErrorIs(0xFA000A), RaisedAt(kFile, "MakeTypeMismatchError", 62),
                                  HasText(u"POR: There is a mismatch in object internal structure. Expected "
                                          u"object type is '" +
                                          c.expected + u"', actual object type is '" + actual + u"'.")));
            }
        }
    }
}

std::vector<std::u16string>* g_traced = nullptr;

void RecordTrace(int level, unsigned, unsigned, const char16_t* text)
{
    if (g_traced && level == Common::TRACE_INFORMATION)
        g_traced->push_back(text);
}

TEST(TypeMismatchErrors, MakingOneLogsTheCallStack)
{
    std::vector<std::u16string> traced;
    Common::TraceRegistry registry;
    registry.callbacks.push_back(Common::TraceCallbacks{&RecordTrace, nullptr, nullptr, nullptr});
    g_traced = &traced;
    Common::TraceRegistry* previous = Common::Detail::SetTraceRegistryForTesting(&registry);
    (void)Util::Detail::MakePropertyTypeMismatchError("p", 1, 2); // only its trace matters here
    Common::Detail::SetTraceRegistryForTesting(previous);
    g_traced = nullptr;

    ASSERT_GE(traced.size(), 2u);
    EXPECT_EQ(traced[0], u"Stack logging from 'Por::Util::Detail::MakePropertyTypeMismatchError'");
    EXPECT_LE(traced.size(), 33u);
    for (size_t i = 1; i < traced.size(); ++i)
        EXPECT_EQ(traced[i].rfind(u"Stack frame " + Common::FromUtf8(std::to_string(i - 1).c_str()) + u": '", 0), 0u)
            << Common::ToUtf8(traced[i].c_str());
}

} // namespace
