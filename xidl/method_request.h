// Requests and component-information tables made from the method tables
// (method_tables.h): a request of one row carries the identity of its
// interface and row, and names its argument elements by the row's parameters.
// The row is a template argument, so a signature whose parameter count differs
// from the row's does not compile.
//
// Threading: as Binding::Detail::BuildRequest; the tables are constants.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "enterprise/common/ipc/method_identity.h"
#include "enterprise/common/ipc/method_table_info.h"
#include "enterprise/common/ipc/request_impl.h"
#include "xidl/method_tables.h"

namespace Dml::Methods {

inline Binding::MethodIdentity IdentityOf(const Interface& table, const Row& method)
{
    return Binding::MethodIdentity(table.componentId, method.index, table.name, method.name, table.version,
                                   method.since);
}

// A new request of `Method` of `table` with signature Signature, or none when
// building failed (Binding::Detail::BuildRequest).
template <const Row& Method, typename Signature, typename... Values>
std::unique_ptr<Binding::Request> BuildRequest(const Interface& table, Values&&... values)
{
    using Names = typename Binding::Detail::RequestImpl<Signature>::ParameterNames;
    static_assert(std::tuple_size_v<Names> == Method.ParameterCount(), "the signature has the row's parameters");
    const Names names = []<size_t... Indexes>(std::index_sequence<Indexes...>)
    {
        return Names{Binding::Detail::ParameterName(Method.parameters[Indexes])...};
    }
    (std::make_index_sequence<std::tuple_size_v<Names>>());
    return Binding::Detail::BuildRequest<Signature>(IdentityOf(table, Method), names, std::forward<Values>(values)...);
}

// The component-information words of an interface of `Count` methods.
template <size_t Count>
constexpr std::array<uint64_t, Count> MethodInfoWords()
{
    std::array<uint64_t, Count> words{};
    words.fill(Binding::Detail::kMethodInfoWord);
    return words;
}

} // namespace Dml::Methods
