// Por::Construction::UnitFactory: creates units of every kind (one creator per
// kind, in kind order), then traits and properties. Every creator returns a new
// object that the caller owns; every new unit has an empty trait set. The
// creators are const: a factory has no state that they change.
//
// CreateTrait and CreateProperty take the value unit over (a null unit fails
// with 0xFA000B "POR: Null units are forbidden.").
//
// Declaration order is the binary order; never insert or reorder.
// Threading: implementations say; the in-memory factory is stateless.
#pragma once

#include <memory>

#include "core/common/non_copyable.h"
#include "enterprise/common/por/unit.h"

namespace Por::Construction {

class UnitFactory : private Common::NonCopyable
{
public:
    virtual ~UnitFactory() = default;

    virtual std::unique_ptr<Unit> CreateNil() const = 0;
#define POR_CREATE_SCALAR(Name, Type) virtual std::unique_ptr<Unit> Create##Name(Type value) const = 0;
    POR_SCALAR_KINDS(POR_CREATE_SCALAR)
#undef POR_CREATE_SCALAR
#define POR_CREATE_COMPLEX(Name, Type) virtual std::unique_ptr<Unit> Create##Name(const Type& value) const = 0;
    POR_COMPLEX_KINDS(POR_CREATE_COMPLEX)
#undef POR_CREATE_COMPLEX
    virtual std::unique_ptr<Unit> CreateArray() const = 0;
    virtual std::unique_ptr<Unit> CreateComposite() const = 0;
    virtual std::unique_ptr<View::Trait> CreateTrait(const Name& name, std::unique_ptr<Unit>&& value) const = 0;
    virtual std::unique_ptr<Property> CreateProperty(const Name& name, std::unique_ptr<Unit>&& value) const = 0;
};

} // namespace Por::Construction
