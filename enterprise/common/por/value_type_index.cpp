#include "enterprise/common/por/value_type_index.h"

#include <cstdio>

#include "core/common/text_conversion.h"

namespace Por::Util {

int GetValueTypeIndex(const View::Unit& unit)
{
    GetValueTypeIndexVisitor functor;
    View::Detail::UnitVisitorAdaptor<GetValueTypeIndexVisitor> adaptor(&functor);
    unit.Accept(adaptor);
    return functor.GetIndex();
}

std::u16string GetValueTypeName(unsigned kind)
{
    if (kind < kValueKindCount)
        return Common::FromUtf8(kValueKindLowerNames[kind]);
    char digits[30];
    std::snprintf(digits, sizeof digits, "%llu", static_cast<unsigned long long>(kind));
    return Common::FromUtf8(digits);
}

} // namespace Por::Util
