// Por::Util::CreateUnitOf: the factory's creator of the kind whose value type
// is T (a scalar or complex kind), chosen at compile time:
//
//     auto unit = Por::Util::CreateUnitOf(factory, scalar.Get());
//
// Threading: as the factory.
#pragma once

#include <memory>

#include "enterprise/common/por/unit_factory.h"

namespace Por::Util {

namespace Detail {

template <typename T>
struct ValueCreator;

#define POR_VALUE_CREATOR(Name, Type)                                                                                \
    template <>                                                                                                      \
    struct ValueCreator<Type>                                                                                        \
    {                                                                                                                \
        static std::unique_ptr<Construction::Unit> Make(const Construction::UnitFactory& factory, const Type& value) \
        {                                                                                                            \
            return factory.Create##Name(value);                                                                      \
        }                                                                                                            \
    };
POR_SCALAR_KINDS(POR_VALUE_CREATOR)
POR_COMPLEX_KINDS(POR_VALUE_CREATOR)
#undef POR_VALUE_CREATOR

} // namespace Detail

template <typename T>
std::unique_ptr<Construction::Unit> CreateUnitOf(const Construction::UnitFactory& factory, const T& value)
{
    return Detail::ValueCreator<T>::Make(factory, value);
}

} // namespace Por::Util
