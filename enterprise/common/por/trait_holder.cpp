#include "enterprise/common/por/trait_holder.h"

namespace Por {

namespace {
constexpr Common::SourceFile kSource("enterprise/common/por/trait_holder", 0x745f8494f2497eec);
}

TraitHolder::TraitHolder(const Name& name, std::unique_ptr<Construction::Unit>&& value)
    : NamedUnitHolder(name, std::move(value), kSource.At("TraitHolder", 37))
{
}

} // namespace Por
