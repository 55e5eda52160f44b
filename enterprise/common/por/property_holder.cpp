#include "enterprise/common/por/property_holder.h"

namespace Por {

namespace {
constexpr Common::SourceFile kSource("enterprise/common/por/property_holder", 0x8efe7e9c26b66d90);
}

PropertyHolder::PropertyHolder(const Name& name, std::unique_ptr<Construction::Unit>&& value)
    : NamedUnitHolder(name, std::move(value), kSource.At("PropertyHolder", 36))
{
}

} // namespace Por
