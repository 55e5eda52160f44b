// Por::NamedUnitHolder<Interface>: the common part of the in-memory property
// and trait, a copied name and an owned value unit that is never null.
//
// Threading: none; the holder lives inside one composite or trait set.
#pragma once

#include <memory>
#include <utility>

#include "core/common/location.h"
#include "enterprise/common/por/module_error.h"
#include "enterprise/common/por/por_errors.h"
#include "enterprise/common/por/unit.h"

namespace Por {

template <typename Interface>
class NamedUnitHolder : public Interface
{
public:
    const Name& GetName() const override { return m_name; }
    const View::Unit& GetValue() const override { return *m_value; }

protected:
    // Copies the name and takes the value over; a null value raises
    // Por::ModuleError 0xFA000B at `nullLocation` and leaves the caller's
    // pointer as it was.
    NamedUnitHolder(const Name& name, std::unique_ptr<Construction::Unit>&& value, Common::Location nullLocation)
        : m_name(name)
    {
        if (!value)
            ThrowModuleError(PorErrors::kNullUnit, PorErrors::kNullUnitText, nullLocation);
        m_value = std::move(value);
    }

    Name m_name;
    std::unique_ptr<Construction::Unit> m_value;
};

} // namespace Por
