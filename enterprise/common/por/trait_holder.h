// Por::TraitHolder: the in-memory trait, a name and an owned value unit that
// is never null (a null value raises Por::ModuleError 0xFA000B). Traits have
// no changeable interface. Its room comes from the node pool.
//
// Threading: none; a trait lives inside one trait set.
#pragma once

#include "core/common/node_pool.h"
#include "enterprise/common/por/named_unit_holder.h"

namespace Por {

class TraitHolder final : public NamedUnitHolder<View::Trait>, public Common::PooledNode<TraitHolder>
{
public:
    TraitHolder(const Name& name, std::unique_ptr<Construction::Unit>&& value);
};

} // namespace Por
