#include "enterprise/common/por/trait_pairing.h"

#include "enterprise/common/por/unit_equality.h"

namespace Por::Util {

namespace {

// The first trait of `traits` named like `trait` whose value is unit-equal to
// its value, or null.
const View::Trait* FindEqualNamesake(const View::Traits& traits, const View::Trait& trait)
{
    const View::Trait* found = nullptr;
    auto resolver = ProcessorOf<const View::Trait>([&](const View::Trait& candidate) {
        if (UnitsEqual(trait.GetValue(), candidate.GetValue()))
            found = &candidate;
        return found != nullptr;
    });
    traits.ForEachNamed(trait.GetName(), resolver);
    return found;
}

} // namespace

void WalkUnitTraits(const View::Unit& left, const View::Unit& right, UnitTraitsWalker& walker)
{
    const View::Traits& leftTraits = left.traits();
    const View::Traits& rightTraits = right.traits();
    bool stop = false;
    auto leftPass = ProcessorOf<const View::Trait>([&](const View::Trait& trait) {
        const View::Trait* namesake = FindEqualNamesake(rightTraits, trait);
        stop = namesake ? walker.Pair(trait, *namesake) : walker.LeftOnly(trait);
        return stop;
    });
    leftTraits.ForEach(leftPass);
    if (stop)
        return;

    auto rightPass = ProcessorOf<const View::Trait>([&](const View::Trait& trait) {
        if (FindEqualNamesake(leftTraits, trait))
            return false;
        return walker.RightOnly(trait);
    });
    rightTraits.ForEach(rightPass);
}

bool HasTraits(const View::Unit& unit)
{
    bool found = false;
    auto first = ProcessorOf<const View::Trait>([&](const View::Trait&) { return found = true; });
    unit.traits().ForEach(first);
    return found;
}

} // namespace Por::Util
