// Por::PropertyHolder: the in-memory property, a name and an owned value unit
// that is never null (a null value raises Por::ModuleError 0xFA000B). Its room
// comes from the node pool.
//
// Threading: none; a property lives inside one composite.
#pragma once

#include "core/common/node_pool.h"
#include "enterprise/common/por/named_unit_holder.h"

namespace Por {

class PropertyHolder final : public NamedUnitHolder<Construction::Property>, public Common::PooledNode<PropertyHolder>
{
public:
    PropertyHolder(const Name& name, std::unique_ptr<Construction::Unit>&& value);

    using NamedUnitHolder::GetValue;
    Construction::Unit& GetValue() override { return *m_value; }
};

} // namespace Por
