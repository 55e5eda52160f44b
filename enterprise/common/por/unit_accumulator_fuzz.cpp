// Fuzz target of the unit accumulator: any sequence of building events must
// give a unit or a Common::Error, never a crash, a leak or a double release.
// The first byte chooses an empty accumulator or one continuing a fixed unit;
// every further byte is one event (low 5 bits) with a name or value from the
// high 3 bits. A unit taken out must compare equal to itself.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/unit_accumulator.h"
#include "enterprise/common/por/unit_equality.h"

namespace {

std::unique_ptr<Por::Construction::Unit> StartUnit(const Por::Construction::UnitFactory& f, uint8_t choice)
{
    switch (choice % 4) {
    case 0:
        return nullptr;
    case 1:
        return f.CreateByte(1);
    case 2: {
        auto array = f.CreateArray();
        Por::Util::UnitAccumulator filler(std::move(array), f);
        filler.Array();
        filler.Nil();
        filler.End();
        filler.Byte(2);
        filler.End();
        filler.End();
        return filler.TakeUnit();
    }
    default: {
        Por::Util::UnitAccumulator builder(f);
        builder.Composite();
        builder.Property("a");
        builder.Byte(1);
        builder.End();
        builder.Property("b");
        builder.Nil();
        builder.End();
        builder.Property("c");
        builder.Array();
        builder.Word(1);
        builder.End();
        builder.End();
        builder.End();
        return builder.TakeUnit();
    }
    }
}

void Event(Por::Util::UnitAccumulator& a, uint8_t byte)
{
    static const Por::Name names[] = {"a", "b", "c", "d", "", "a", "b", "t"};
    const unsigned argument = byte >> 5;
    switch (byte & 31) {
    case 0:
        return a.Nil();
    case 1:
        return a.Boolean(argument & 1);
    case 2:
        return a.Byte(static_cast<unsigned char>(argument));
    case 3:
        return a.SByte(static_cast<signed char>(argument));
    case 4:
        return a.Word(static_cast<unsigned short>(argument));
    case 5:
        return a.DWord(argument);
    case 6:
        return a.SQWord(-static_cast<long long>(argument));
    case 7:
        return a.Double(argument / 2.0);
    case 8:
        return a.String(std::u16string(argument, u'x'));
    case 9:
        return a.Error(Common::Success);
    case 10:
    case 11:
        return a.Array();
    case 12:
    case 13:
        return a.Composite();
    case 14:
    case 15:
    case 16:
        return a.Property(names[argument]);
    case 17:
    case 18:
        return a.Trait(names[argument]);
    default:
        return a.End();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0 || size > 4096)
        return 0;
    const auto factory = Por::Construction::CreateInMemoryUnitFactory();
    try {
        Por::Util::UnitAccumulator accumulator(StartUnit(*factory, data[0]), *factory);
        for (size_t i = 1; i < size; ++i)
            Event(accumulator, data[i]);
        const std::unique_ptr<Por::Construction::Unit> unit = accumulator.TakeUnit();
        if (unit && !Por::Util::UnitsEqual(*unit, *unit))
            std::abort();
    } catch (const Common::Error&) {
        // a refused sequence
    }
    return 0;
}
