// Por::Object<Holder>: the in-memory unit, one node of the node pool holding
// the value holder and the trait set. Accept at each level hands the embedded
// holder to the visitor's Visit of the unit's kind; both traits() return the
// embedded trait set. Destruction destroys the trait set first, then the
// holder.
//
// Threading: none; a unit tree must not be changed by two threads at once.
#pragma once

#include <utility>

#include "core/common/node_pool.h"
#include "enterprise/common/por/array_value_holder.h"
#include "enterprise/common/por/composite_value_holder.h"
#include "enterprise/common/por/traits_holder.h"
#include "enterprise/common/por/unit.h"
#include "enterprise/common/por/value_holders.h"

namespace Por {

template <typename Holder>
class Object final : public Construction::Unit, public Common::PooledNode<Object<Holder>>
{
public:
    template <typename... Args>
    explicit Object(Args&&... args) : m_holder(std::forward<Args>(args)...)
    {
    }

    void Accept(View::UnitReader& reader) const override { reader.Visit(m_holder); }
    void Accept(Modification::UnitWriter& writer) override { writer.Visit(m_holder); }
    void Accept(Construction::UnitBuilder& builder) override { builder.Visit(m_holder); }
    const View::Traits& traits() const override { return m_traits; }
    Construction::Traits& traits() override { return m_traits; }

private:
    Holder m_holder;
    TraitsHolder m_traits;
};

} // namespace Por
