// Applying the diff's patches: Apply(old, MakeDiff(old, new)) gives new.
// Units are compared with the total unit order (a NaN equals a NaN there,
// +0 equals -0); UnitsEqual calls two NaNs unequal by design.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>

#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/test_support/make_units.h"
#include "enterprise/common/por/test_support/render.h"
#include "enterprise/common/por/unit_copier.h"
#include "enterprise/common/por/unit_diff.h"
#include "enterprise/common/por/unit_order_key.h"
#include "service/patch_applier.h"
#include "testing/error_matchers.h"

namespace {

using namespace Por;
using PorTesting::Render;
using PorTesting::UnitPtr;

const Construction::InMemoryUnitFactory kFactory;
const PorTesting::Make m(kFactory);

void ExpectRoundTrip(const View::Unit& oldUnit, const View::Unit& newUnit)
{
    const UnitPtr patch = Util::MakeDiff(oldUnit, newUnit, kFactory);
    const UnitPtr result = Service::ApplyPatch(oldUnit, *patch, kFactory);
    EXPECT_EQ(Util::CompareUnitKeys(*result, newUnit), 0)
        << "old:    " << Render(oldUnit) << "\nnew:    " << Render(newUnit) << "\npatch:  " << Render(*patch)
        << "\nresult: " << Render(*result);
}

struct Pair
{
    const char* what;
    std::function<UnitPtr()> oldUnit;
    std::function<UnitPtr()> newUnit;
};

const Pair kPairs[] = {
    {"equal", [] { return m.With(m.DWord(1), "T", m.Nil()); }, [] { return m.With(m.DWord(1), "T", m.Nil()); }},
    {"scalar changes", [] { return m.DWord(1); }, [] { return m.DWord(2); }},
    {"kind changes, traits stay", [] { return m.With(m.DWord(1), "T", m.Byte(1)); },
     [] { return m.With(m.String(u"x"), "T", m.Byte(1)); }},
    {"value to Nil", [] { return m.With(m.DWord(5), "T", m.Nil()); }, [] { return m.Nil(); }},
    {"Nil to value", [] { return m.Nil(); }, [] { return m.With(m.SQWord(-1), "T", m.Nil()); }},
    {"NaN to NaN", [] { return m.Double(std::nan("")); }, [] { return m.Double(std::nan("")); }},
    {"0 to -0", [] { return m.Double(0.0); }, [] { return m.Double(-0.0); }},
    {"scalar to composite", [] { return m.Boolean(false); },
     [] { return m.Composite(m.Prop("a", m.With(m.DWord(1), "P", m.Nil()))); }},
    {"scalar to array", [] { return m.With(m.Boolean(true), "T", m.DWord(1)); },
     [] { return m.With(m.Array(m.Byte(1)), "A", m.Nil()); }},
    {"array grows", [] { return m.With(m.Array(m.DWord(1), m.DWord(2)), "A", m.Nil()); },
     [] { return m.With(m.Array(m.DWord(1), m.DWord(2), m.DWord(3)), "B", m.Nil()); }},
    {"array element traits differ", [] { return m.Array(m.DWord(1)); },
     [] { return m.Array(m.With(m.DWord(1), "E", m.Nil())); }},
    {"equal arrays, traits differ", [] { return m.With(m.Array(m.DWord(1)), "Old", m.DWord(1)); },
     [] { return m.With(m.Array(m.DWord(1)), "New", m.DWord(2)); }},
    {"nested composites",
     [] {
         return m.Composite(m.Prop("a", m.DWord(1)), m.Prop("keep", m.String(u"k")),
                            m.Prop("gone", m.With(m.Nil(), "X", m.Nil())),
                            m.Prop("inner", m.Composite(m.Prop("x", m.DWord(1)), m.Prop("y", m.Array()))));
     },
     [] {
         return m.Composite(
             m.Prop("a", m.DWord(2)), m.Prop("keep", m.String(u"k")),
             m.Prop("new", m.With(m.Composite(m.Prop("z", m.Nil())), "N", m.Byte(3))),
             m.Prop("inner",
                    m.With(m.Composite(m.Prop("x", m.DWord(1)), m.Prop("y", m.Array(m.Nil()))), "I", m.Nil())));
     }},
    {"a property only gains a trait", [] { return m.Composite(m.Prop("a", m.DWord(1))); },
     [] { return m.Composite(m.Prop("a", m.With(m.DWord(1), "T", m.DWord(2)))); }},
    {"a trait changes its value", [] { return m.With(m.Nil(), "T", m.DWord(1)); },
     [] { return m.With(m.Nil(), "T", m.DWord(2)); }},
    {"repeated trait names",
     [] { return m.With(m.With(m.With(m.Nil(), "T", m.DWord(1)), "T", m.DWord(2)), "U", m.Nil()); },
     [] { return m.With(m.With(m.Nil(), "T", m.DWord(2)), "T", m.DWord(3)); }},
    {"a NaN trait value", [] { return m.With(m.Nil(), "T", m.Double(std::nan(""))); },
     [] { return m.With(m.Nil(), "T", m.Double(1)); }},
    {"trait values with traits", [] { return m.With(m.Nil(), "T", m.With(m.DWord(1), "Inner", m.Nil())); },
     [] { return m.With(m.Nil(), "T", m.DWord(1)); }},
    // Traits named like markers but holding values are data, not markers.
    {"an added property carries traits named like markers", [] { return m.Composite(); },
     [] {
         return m.Composite(m.Prop("a", m.With(m.With(m.DWord(1), "Added", m.DWord(5)), "Removed", m.Nil())),
                            m.Prop("b", m.With(m.Nil(), "Added", m.With(m.Nil(), "X", m.Nil()))));
     }},
    {"an array copy carries traits named like markers", [] { return m.Array(); },
     [] {
         return m.With(m.With(m.Array(m.DWord(1)), "FullElementCopy", m.DWord(1)), "PackedDiff",
                       m.With(m.Nil(), "X", m.Nil()));
     }},
};

TEST(ApplyPatch, RebuildsTheNewUnitOfEveryPair)
{
    for (const Pair& pair : kPairs) {
        SCOPED_TRACE(pair.what);
        const UnitPtr oldUnit = pair.oldUnit();
        const UnitPtr newUnit = pair.newUnit();
        ExpectRoundTrip(*oldUnit, *newUnit);
        ExpectRoundTrip(*newUnit, *oldUnit);
    }
}

// Random units: a few names, values of several kinds (NaN included), nested
// arrays and composites, traits at every level. The diff format's marker
// names never appear as Nil traits (the format cannot tell them apart).
class UnitGenerator
{
public:
    // With `diffNames`, names are drawn from the diff format's own names too
    // (and mostly hold Nil markers): units that look like patches.
    explicit UnitGenerator(unsigned seed, bool diffNames = false) : m_random(seed), m_diffNames(diffNames) {}

    UnitPtr Make(int depth)
    {
        UnitPtr unit;
        switch (Pick(depth > 0 ? 8 : 6)) {
        case 0:
            unit = kFactory.CreateNil();
            break;
        case 1:
            unit = kFactory.CreateDWord(static_cast<unsigned>(Pick(3)));
            break;
        case 2:
            unit = kFactory.CreateDouble(Pick(4) == 0 ? std::nan("") : Pick(3) - 1.0);
            break;
        case 3:
            unit = kFactory.CreateString(Pick(2) ? u"a" : u"b");
            break;
        case 4:
            unit = kFactory.CreateBoolean(Pick(2) == 0);
            break;
        case 5:
            unit = kFactory.CreateByte(static_cast<unsigned char>(Pick(2)));
            break;
        case 6: {
            unit = kFactory.CreateArray();
            for (int i = Pick(3); i > 0; --i)
                PushBack(*unit, Make(depth - 1));
            break;
        }
        default: {
            unit = kFactory.CreateComposite();
            for (const char* name : {"p", "q", "r"}) {
                if (Pick(2))
                    SetProperty(*unit, PropertyName(name), Make(depth - 1));
            }
        }
        }
        for (int i = Pick(3) == 0 ? 1 + Pick(2) : 0; i > 0; --i)
            AddTrait(*unit, depth);
        return unit;
    }

    // A unit like `source` with a few random changes.
    UnitPtr Mutate(const View::Unit& source, int depth)
    {
        if (Pick(4) == 0)
            return Make(depth);
        UnitPtr copy = Util::CopyUnit(source, kFactory);
        if (Pick(3) == 0)
            copy->traits().Add(kFactory.CreateTrait(Name(std::string(1, "TU"[Pick(2)])), Make(0)));
        if (Pick(4) == 0)
            (void)copy->traits().Remove(Name(std::string(1, "TU"[Pick(2)])));
        return copy;
    }

private:
    int Pick(int n) { return static_cast<int>(m_random() % static_cast<unsigned>(n)); }

    static constexpr const char* kDiffNames[] = {
        "PackedDiff",     "EmptyDiff", "FullElementCopy", "FixedTraitedFullCopy",
        "TraitsOnlyDiff", "FullDiff",  "Removed",         "Added"};

    Name PropertyName(const char* name)
    {
        if (m_diffNames && Pick(2))
            return Pick(2) ? Name("PreviousValue") : Name("NewValue");
        return Name(std::string(name));
    }

    void AddTrait(Construction::Unit& unit, int depth)
    {
        if (m_diffNames && Pick(2)) {
            const Name name(std::string(kDiffNames[Pick(static_cast<int>(std::size(kDiffNames)))]));
            unit.traits().Add(kFactory.CreateTrait(name, Pick(4) ? kFactory.CreateNil() : Make(depth - 1)));
            return;
        }
        unit.traits().Add(kFactory.CreateTrait(Name(std::string(1, "TU"[Pick(2)])), Make(0)));
    }

    static void PushBack(Construction::Unit& array, UnitPtr element)
    {
        PorTesting::Detail::ElementPusher pusher{&element};
        Construction::Detail::UnitVisitorAdaptor<PorTesting::Detail::ElementPusher> adaptor(&pusher);
        array.Accept(adaptor);
    }
    static void SetProperty(Construction::Unit& composite, const Name& name, UnitPtr value)
    {
        PorTesting::Detail::PropertySetter setter{kFactory.CreateProperty(name, std::move(value))};
        Construction::Detail::UnitVisitorAdaptor<PorTesting::Detail::PropertySetter> adaptor(&setter);
        composite.Accept(adaptor);
    }

    std::mt19937 m_random;
    bool m_diffNames;
};

TEST(ApplyPatch, RebuildsTheNewUnitOfRandomPairs)
{
    UnitGenerator generator(20261210);
    for (int round = 0; round < 400; ++round) {
        SCOPED_TRACE(round);
        const UnitPtr oldUnit = generator.Make(3);
        const UnitPtr newUnit = round % 2 ? generator.Make(3) : generator.Mutate(*oldUnit, 3);
        ExpectRoundTrip(*oldUnit, *newUnit);
    }
}

// Patches from elsewhere: random units shaped like patches, and real patches
// applied to units they were not made for. Each gives a unit or an error,
// never a crash or a leak (ASan, LSan).
TEST(ApplyPatch, AnyPatchGivesAUnitOrAnError)
{
    UnitGenerator units(7);
    UnitGenerator patches(11, true);
    int applied = 0;
    for (int round = 0; round < 2000; ++round) {
        SCOPED_TRACE(round);
        const UnitPtr oldUnit = units.Make(3);
        UnitPtr patch;
        if (round % 2) {
            patch = m.With(patches.Make(3), "PackedDiff", m.Nil());
        } else {
            const UnitPtr other = units.Make(3);
            patch = Util::MakeDiff(*other, *units.Mutate(*other, 3), kFactory);
        }
        try {
            EXPECT_NE(Service::ApplyPatch(*oldUnit, *patch, kFactory), nullptr);
            ++applied;
        } catch (const Common::Error&) {
        }
    }
    EXPECT_GT(applied, 0);
}

::testing::Matcher<const Common::Error&> DoesNotFit(const std::u16string& reason)
{
    return ::testing::AllOf(Testing::ErrorIs(0xFC0F00),
                            Testing::HasText(u"The patch does not fit the object: " + reason + u"."));
}

TEST(ApplyPatch, RefusesPatchesThatDoNotFit)
{
    struct Case
    {
        const char* what;
        std::function<UnitPtr()> oldUnit;
        std::function<UnitPtr()> patch;
        std::u16string reason;
    };
    const Case cases[] = {
        {"no PackedDiff", [] { return m.Nil(); }, [] { return m.DWord(1); }, u"it is not marked PackedDiff"},
        {"array copy without its traits", [] { return m.Array(); },
         [] { return m.With(m.With(m.Array(m.Nil()), "FullElementCopy", m.Nil()), "PackedDiff", m.Nil()); },
         u"an array copy lacks its traits"},
        {"unexpected trait", [] { return m.Nil(); },
         [] { return m.With(m.With(m.DWord(1), "Stray", m.Nil()), "PackedDiff", m.Nil()); },
         u"unexpected trait 'Stray'"},
        {"missing property", [] { return m.Composite(); },
         [] { return m.With(m.Composite(m.Prop("a", m.DWord(1))), "PackedDiff", m.Nil()); },
         u"property 'a' is missing"},
        {"removal of a trait that is not there", [] { return m.With(m.Nil(), "T", m.DWord(1)); },
         [] {
             UnitPtr removed = m.With(m.Nil(), "Removed", m.Nil());
             UnitPtr record = m.With(
                 m.Composite(m.Prop("PreviousValue", m.DWord(2)), m.Prop("NewValue", std::move(removed))), "FullDiff",
                 m.Nil());
             return m.With(m.With(m.With(m.Composite(), "TraitsOnlyDiff", m.Nil()), "T", std::move(record)),
                           "PackedDiff", m.Nil());
         },
         u"no trait 'T' holds the previous value"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const UnitPtr oldUnit = c.oldUnit();
        const UnitPtr patch = c.patch();
        try {
            (void)Service::ApplyPatch(*oldUnit, *patch, kFactory);
            ADD_FAILURE() << "no exception";
        } catch (const Common::Error& error) {
            EXPECT_THAT(error, DoesNotFit(c.reason));
        }
    }
}

} // namespace
