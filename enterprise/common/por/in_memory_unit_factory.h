// The in-memory unit factory and the process-wide default factory.
//
// Por::Construction::InMemoryUnitFactory has no state: any number of instances
// behave alike. Its units are Por::Object<Holder> of the kind's holder with an
// empty trait set; creators copy the value they are given, except CreateError,
// which stores a success unchanged and detaches any other error (its whole
// chain goes through the error blob and back), so the unit shares no record
// with its argument. CreateTrait and CreateProperty copy the name and take the
// value over (a null value raises 0xFA000B).
//
// GetDefaultUnitFactory creates the default factory on first use under a
// static recursive lock that needs no construction, so it works from any
// static initializer; the factory is deleted at exit.
//
// Threading: the factory is stateless and may be used from any thread; the
// units it makes are not synchronized.
#pragma once

#include <memory>

#include "enterprise/common/por/unit_factory.h"

namespace Por::Construction {

class InMemoryUnitFactory final : public UnitFactory
{
public:
    std::unique_ptr<Unit> CreateNil() const override;
#define POR_DECLARE_CREATE_SCALAR(Name, Type) std::unique_ptr<Unit> Create##Name(Type value) const override;
    POR_SCALAR_KINDS(POR_DECLARE_CREATE_SCALAR)
#undef POR_DECLARE_CREATE_SCALAR
#define POR_DECLARE_CREATE_COMPLEX(Name, Type) std::unique_ptr<Unit> Create##Name(const Type& value) const override;
    POR_COMPLEX_KINDS(POR_DECLARE_CREATE_COMPLEX)
#undef POR_DECLARE_CREATE_COMPLEX
    std::unique_ptr<Unit> CreateArray() const override;
    std::unique_ptr<Unit> CreateComposite() const override;
    std::unique_ptr<View::Trait> CreateTrait(const Name& name, std::unique_ptr<Unit>&& value) const override;
    std::unique_ptr<Property> CreateProperty(const Name& name, std::unique_ptr<Unit>&& value) const override;
    // CreateString that takes the units of `value` over instead of copying
    // them; `value` is then left valid but unspecified.
    std::unique_ptr<Unit> TakeString(std::u16string& value) const;
};

std::unique_ptr<UnitFactory> CreateInMemoryUnitFactory();

// The process-wide default factory; the caller does not own it.
UnitFactory* GetDefaultUnitFactory();

} // namespace Por::Construction
