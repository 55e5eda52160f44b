// In-memory units made by the in-memory factory: kinds, values, the error
// unit's detached chain, the null checks and the default factory.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/module_error.h"
#include "enterprise/common/por/test_support/every_kind.h"
#include "enterprise/common/por/value_type_index.h"
#include "testing/error_matchers.h"

namespace {

using namespace Por;
using namespace PorTesting;
using namespace Testing;
using ::testing::AllOf;

const Construction::InMemoryUnitFactory kFactory;

bool HasNoTraits(const View::Unit& unit)
{
    bool any = false;
    auto seen = ProcessorOf<const View::Trait>([&](const View::Trait&) { return any = true; });
    unit.traits().ForEach(seen);
    return !any;
}

TEST(InMemoryUnits, EveryCreatorMakesItsKindWithItsValue)
{
    const GuidType guid{0xA1B2C3D4u, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    const Common::Error success;
    UnitPtr units[17] = {kFactory.CreateNil(),
                         kFactory.CreateBoolean(true),
                         kFactory.CreateByte(200),
                         kFactory.CreateSByte(-100),
                         kFactory.CreateWord(60000),
                         kFactory.CreateSWord(-30000),
                         kFactory.CreateDWord(4000000000u),
                         kFactory.CreateSDWord(-2000000000),
                         kFactory.CreateQWord(18000000000000000000ull),
                         kFactory.CreateSQWord(-9000000000000000000ll),
                         kFactory.CreateDouble(0.25),
                         kFactory.CreateBlob({1, 2, 3}),
                         kFactory.CreateGuid(guid),
                         kFactory.CreateString(u"abc"),
                         kFactory.CreateError(success),
                         kFactory.CreateArray(),
                         kFactory.CreateComposite()};
    for (int kind = 0; kind < 17; ++kind) {
        SCOPED_TRACE(kind);
        EXPECT_EQ(Util::GetValueTypeIndex(*units[kind]), kind);
        EXPECT_TRUE(HasNoTraits(*units[kind]));
    }
    EXPECT_EQ(ReadValue<bool>(*units[1]), true);
    EXPECT_EQ(ReadValue<unsigned char>(*units[2]), 200);
    EXPECT_EQ(ReadValue<signed char>(*units[3]), -100);
    EXPECT_EQ(ReadValue<unsigned short>(*units[4]), 60000);
    EXPECT_EQ(ReadValue<short>(*units[5]), -30000);
    EXPECT_EQ(ReadValue<unsigned int>(*units[6]), 4000000000u);
    EXPECT_EQ(ReadValue<int>(*units[7]), -2000000000);
    EXPECT_EQ(ReadValue<unsigned long long>(*units[8]), 18000000000000000000ull);
    EXPECT_EQ(ReadValue<long long>(*units[9]), -9000000000000000000ll);
    EXPECT_EQ(ReadValue<double>(*units[10]), 0.25);
    EXPECT_EQ(ReadValue<BlobType>(*units[11]), (BlobType{1, 2, 3}));
    EXPECT_EQ(ReadValue<GuidType>(*units[12]), guid);
    EXPECT_EQ(ReadValue<std::u16string>(*units[13]), u"abc");
    EXPECT_TRUE(ArrayOf(*units[15]).IsEmpty());
    EXPECT_FALSE(ReadValue<int>(*units[6]).has_value()) << "a DWord is no SDWord";
}

struct KindRecorder
{
    std::vector<int> kinds;
    template <typename Value>
    void operator()(Value& value)
    {
        Util::GetValueTypeIndexVisitor index;
        index(value);
        kinds.push_back(index.GetIndex());
    }
};

// Accept at each level calls exactly one Visit, that of the unit's kind.
TEST(InMemoryUnits, AcceptCallsOneVisitOfTheKindAtEveryLevel)
{
    using Recorder = KindRecorder;
    for (int kind = 0; kind < 17; ++kind) {
        SCOPED_TRACE(kind);
        UnitPtr unit = MakeUnitOfKind(kFactory, kind);
        Recorder recorder;
        View::Detail::UnitVisitorAdaptor<Recorder> reader(&recorder);
        Modification::Detail::UnitVisitorAdaptor<Recorder> writer(&recorder);
        Construction::Detail::UnitVisitorAdaptor<Recorder> builder(&recorder);
        static_cast<const View::Unit&>(*unit).Accept(reader);
        static_cast<Modification::Unit&>(*unit).Accept(writer);
        unit->Accept(builder);
        EXPECT_THAT(recorder.kinds, ::testing::ElementsAre(kind, kind, kind));
    }
}

struct NumberAndTextWriter
{
    void operator()(Modification::ScalarValue<unsigned int>& value) { value.Set(7); }
    void operator()(Modification::ComplexValue<std::u16string>& value)
    {
        value.Set(u"new");
        value.Set(value.Get()); // its own value: nothing changes
    }
    template <typename Other>
    void operator()(Other&)
    {
    }
};

TEST(InMemoryUnits, SetChangesTheValueInPlace)
{
    NumberAndTextWriter writer;
    Modification::Detail::UnitVisitorAdaptor<NumberAndTextWriter> adaptor(&writer);
    UnitPtr number = kFactory.CreateDWord(1);
    UnitPtr text = kFactory.CreateString(u"old");
    number->Accept(static_cast<Modification::UnitWriter&>(adaptor));
    text->Accept(static_cast<Modification::UnitWriter&>(adaptor));
    EXPECT_EQ(ReadValue<unsigned int>(*number), 7u);
    EXPECT_EQ(ReadValue<std::u16string>(*text), u"new");
}

struct ErrorFinder
{
    const Common::Error* error = nullptr;
    void operator()(const View::ComplexValue<Common::Error>& value) { error = &value.Get(); }
    template <typename Other>
    void operator()(const Other&)
    {
    }
};

const Common::Error& ErrorOf(const View::Unit& unit)
{
    ErrorFinder finder;
    View::Detail::UnitVisitorAdaptor<ErrorFinder> adaptor(&finder);
    unit.Accept(adaptor);
    return *finder.error;
}

TEST(InMemoryUnits, ErrorUnitHoldsAnEqualChainThatSharesNoRecord)
{
    UnitPtr unit;
    std::vector<const Common::ErrorRecord*> originalRecords;
    {
        Common::Error error(0xFA0001, u"outer text", Common::Location{0x1234, "test/outer", "Outer", 12});
        error.AddCause(Common::Error(0x40002, u"inner text", Common::Location{0x5678, "test/inner", "Inner", 34}));
        unit = kFactory.CreateError(error);
        const Common::Error& stored = ErrorOf(*unit);
        Common::Error left = error;
        Common::Error right = stored;
        for (int depth = 0; depth < 2; ++depth, left = left.GetCause(), right = right.GetCause()) {
            SCOPED_TRACE(depth);
            ASSERT_NE(right.GetRecord(), nullptr);
            EXPECT_NE(right.GetRecord(), left.GetRecord());
            EXPECT_EQ(right.GetCode(), left.GetCode());
            EXPECT_EQ(right.GetText(), left.GetText());
            EXPECT_EQ(right.GetLocation().LineTag, left.GetLocation().LineTag);
            EXPECT_STREQ(right.GetLocation().file, left.GetLocation().file);
            EXPECT_STREQ(right.GetLocation().function, left.GetLocation().function);
            EXPECT_EQ(right.GetLocation().line, left.GetLocation().line);
        }
        EXPECT_EQ(right.GetRecord(), nullptr) << "no third record";
    }
    // The argument is gone: the unit's chain stands on its own.
    const Common::Error& stored = ErrorOf(*unit);
    EXPECT_THAT(stored,
                AllOf(ErrorIs(0xFA0001), HasText(u"outer text"), RaisedAt("test/outer", "Outer", 12),
                      CausedBy(AllOf(ErrorIs(0x40002), HasText(u"inner text")))));
}

TEST(InMemoryUnits, SuccessErrorUnitHoldsNoRecord)
{
    EXPECT_EQ(ErrorOf(*kFactory.CreateError(Common::Success)).GetRecord(), nullptr);
    EXPECT_EQ(ErrorOf(*kFactory.CreateError(Common::Error())).GetRecord(), nullptr);
}

struct ErrorWriter
{
    const Common::Error* error;
    void operator()(Modification::ComplexValue<Common::Error>& value) { value.Set(*error); }
    template <typename Other>
    void operator()(Other&)
    {
    }
};

TEST(InMemoryUnits, SetOnAnErrorUnitSharesTheArgumentsRecords)
{
    UnitPtr unit = kFactory.CreateError(Common::Success);
    const Common::Error error(0xFA0001, u"shared", Common::NoLocation);
    const int64_t before = error.GetRecord()->count;
    ErrorWriter writer{&error};
    Modification::Detail::UnitVisitorAdaptor<ErrorWriter> adaptor(&writer);
    unit->Accept(static_cast<Modification::UnitWriter&>(adaptor));
    EXPECT_EQ(ErrorOf(*unit).GetRecord(), error.GetRecord());
    EXPECT_EQ(error.GetRecord()->count, before + 1);
}

// The three null-value checks raise 0xFA000B at their published locations.
struct NullCheck
{
    const char* name;
    void (*run)();
    const char* file;
    const char* function;
    int line;
    uint64_t lineTag;
};

const NullCheck kNullChecks[] = {
    {"CreateProperty", [] { (void)kFactory.CreateProperty("p", nullptr); }, "enterprise/common/por/property_holder",
     "PropertyHolder", 36, 0x8efe7e9c26b66db4},
    {"CreateTrait", [] { (void)kFactory.CreateTrait("t", nullptr); }, "enterprise/common/por/trait_holder",
     "TraitHolder", 37, 0x745f8494f2497f11},
    {"Add",
     [] {
         UnitPtr unit = kFactory.CreateNil();
         AddTrait(kFactory, *unit, "kept", kFactory.CreateDWord(1));
         try {
             unit->traits().Add(nullptr);
         } catch (...) {
             int count = 0;
             auto counter = ProcessorOf<const View::Trait>([&](const View::Trait&) { return ++count, false; });
             unit->traits().ForEach(counter);
             EXPECT_EQ(count, 1) << "the trait set is unchanged";
             throw;
         }
     },
     "enterprise/common/por/traits_holder", "Add", 109, 0x5cd0989439b91c3d},
};

TEST(InMemoryUnits, NullValuesRaiseAModuleErrorAtTheirLocation)
{
    for (const NullCheck& check : kNullChecks) {
        SCOPED_TRACE(check.name);
        try {
            check.run();
            ADD_FAILURE() << "no exception";
        } catch (const ModuleError& error) {
            EXPECT_THAT(error,
                        AllOf(ErrorIs(0xFA000B), HasText(u"POR: Null units are forbidden."),
                              RaisedAt(check.file, check.function, check.line), HasLineTag(check.lineTag)));
            EXPECT_EQ(error.GetIntegerParameter("TraceLevel"), 1u);
        }
    }
}

TEST(InMemoryUnits, TraitAndPropertyCopyTheirName)
{
    const Name runtime(std::string("runtime"));
    std::unique_ptr<View::Trait> trait = kFactory.CreateTrait(runtime, kFactory.CreateNil());
    std::unique_ptr<Construction::Property> property = kFactory.CreateProperty("literal", kFactory.CreateNil());
    EXPECT_NE(trait->GetName().GetText(), runtime.GetText()) << "a runtime name is copied";
    EXPECT_STREQ(trait->GetName().GetText(), "runtime");
    EXPECT_STREQ(property->GetName().GetText(), "literal");
    EXPECT_EQ(Util::GetValueTypeIndex(property->GetValue()), 0);
}

TEST(DefaultUnitFactory, IsOneFactoryForEveryCall)
{
    Construction::UnitFactory* factory = Construction::GetDefaultUnitFactory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(Construction::GetDefaultUnitFactory(), factory);
    EXPECT_EQ(Util::GetValueTypeIndex(*factory->CreateComposite()), 16);
    EXPECT_NE(Construction::CreateInMemoryUnitFactory().get(), factory);
}

} // namespace
