#include "enterprise/common/por/assign.h"

#include <memory>
#include <vector>

#include "core/common/location.h"
#include "enterprise/common/por/binary_value_operation.h"
#include "enterprise/common/por/module_error.h"
#include "enterprise/common/por/por_errors.h"
#include "enterprise/common/por/unit_copier.h"
#include "enterprise/common/por/unit_equality.h"

namespace Por::Util {

namespace {

constexpr Common::SourceFile kSource("enterprise/common/por/assign", 0x783ECC9AF307E000ull - 94);

void EnsureUnitsCanBeAssigned(const View::Unit& source, const View::Unit& target)
{
    if (!TraitsIncluded(source, target))
        ThrowModuleError(PorErrors::kDifferentTraits, PorErrors::kDifferentTraitsText,
                         kSource.At("EnsureUnitsCanBeAssigned", 152));
}

class AssignStrategy
{
public:
    virtual ~AssignStrategy() = default;
    // Whether values are written (the perform pass) or only checked.
    virtual bool Writes() const = 0;
    virtual void AssignArray(Modification::ArrayValue& target, const View::ArrayValue& source) = 0;
    virtual void AssignProperty(Modification::Property& target, const View::Property& source) = 0;
};

// The right resolver's operation: the kinds must be equal.
class AssignOperation
{
public:
    explicit AssignOperation(AssignStrategy& strategy) noexcept : m_strategy(strategy) {}

    void Same(Modification::NilValue&, const View::NilValue&) {}
    template <typename T>
    void Same(Modification::ScalarValue<T>& target, const View::ScalarValue<T>& source)
    {
        if (m_strategy.Writes())
            target.Set(source.Get());
    }
    template <typename T>
    void Same(Modification::ComplexValue<T>& target, const View::ComplexValue<T>& source)
    {
        if (m_strategy.Writes())
            target.Set(source.Get());
    }
    void Same(Modification::ArrayValue& target, const View::ArrayValue& source)
    {
        m_strategy.AssignArray(target, source);
    }
    void Same(Modification::CompositeValue& target, const View::CompositeValue& source)
    {
        auto properties = ProcessorOf<const View::Property>([&](const View::Property& property) {
            auto setter = ProcessorOf<Modification::Property>([&](Modification::Property& namesake) {
                m_strategy.AssignProperty(namesake, property);
                return true;
            });
            if (!target.ForEachNamed(property.GetName(), setter))
                ThrowModuleError(PorErrors::kDifferentProperties, PorErrors::kDifferentPropertiesText,
                                 kSource.At("Process", 94));
            return false;
        });
        source.ForEach(properties);
    }
    [[noreturn]] void Different(int, int)
    {
        ThrowModuleError(PorErrors::kDifferentTypes, PorErrors::kDifferentTypesText, kSource.At("Apply", 178));
    }

private:
    AssignStrategy& m_strategy;
};

void Apply(Modification::Unit& target, const View::Unit& source, AssignStrategy& strategy)
{
    AssignOperation operation(strategy);
    BinaryValueOperation::Dispatch(target, source, operation);
}

class CheckAssignStrategy final : public AssignStrategy
{
public:
    bool Writes() const override { return false; }
    void AssignArray(Modification::ArrayValue&, const View::ArrayValue&) override {}
    void AssignProperty(Modification::Property& target, const View::Property& source) override
    {
        EnsureUnitsCanBeAssigned(source.GetValue(), target.GetValue());
        CheckAssignStrategy nested;
        Apply(target.GetValue(), source.GetValue(), nested);
    }
};

class PerformAssignStrategy final : public AssignStrategy
{
public:
    explicit PerformAssignStrategy(const Construction::UnitFactory& factory) noexcept : m_factory(factory) {}

    bool Writes() const override { return true; }
    void AssignArray(Modification::ArrayValue& target, const View::ArrayValue& source) override
    {
        // Copy every element before the target is cleared: a failed copy
        // leaves the target array as it was.
        std::vector<std::unique_ptr<Construction::Unit>> copies;
        copies.reserve(source.GetSize());
        auto copier = ProcessorOf<const View::Unit>([&](const View::Unit& element) {
            copies.push_back(CopyUnit(element, m_factory));
            return false;
        });
        source.ForEach(copier);
        target.Clear();
        for (std::unique_ptr<Construction::Unit>& copy : copies)
            target.PushBack(copy);
    }
    void AssignProperty(Modification::Property& target, const View::Property& source) override
    {
        Assign(target.GetValue(), source.GetValue(), m_factory);
    }

private:
    const Construction::UnitFactory& m_factory;
};

} // namespace

void Assign(Modification::Unit& target, const View::Unit& source, const Construction::UnitFactory& factory)
{
    if (static_cast<const View::Unit*>(&target) == &source)
        return;
    EnsureUnitsCanBeAssigned(source, target);
    CheckAssignStrategy check;
    Apply(target, source, check);
    PerformAssignStrategy perform(factory);
    Apply(target, source, perform);
}

} // namespace Por::Util
