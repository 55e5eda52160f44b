#include "enterprise/common/por/value_type_index.h"

namespace Por::Util {

int GetValueTypeIndex(const View::Unit& unit)
{
    GetValueTypeIndexVisitor functor;
    View::Detail::UnitVisitorAdaptor<GetValueTypeIndexVisitor> adaptor(&functor);
    unit.Accept(adaptor);
    return functor.GetIndex();
}

} // namespace Por::Util
