// Binding::Detail::RequestImpl<void(Params...)>: the request of one method
// signature. It holds one Argument per parameter, in declaration order, and
// writes and reads them with the parameter type's ValueCodec (value_codec.h).
//
// How a parameter is passed decides what happens to it:
//   by value         written from a copy taken at build time; read back into a
//                    temporary copy (and dropped) only when its codec says so
//                    (units), else not read
//   by const ref     written from a copy; not read
//   by non-const ref written from a copy of the caller's variable taken at
//                    build time; read back into the caller's variable, which
//                    must outlive the request or its reply
// Each argument also has a name (its element) and a transfer flag
// (transfer_flags.h). A failure while an argument is written propagates and the
// later ones are not written; a Common::Error while one is read back is
// dropped, the caller's variable keeps what was stored until then and the next
// argument is still read.
//
// BuildRequest makes a request for the interface stubs: a Common::Error raised
// while building is traced at level 1 and gives no request; other exceptions
// (allocation failures) propagate.
//
// Threading: as RequestBase.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "core/common/trace.h"
#include "enterprise/common/ipc/request_base.h"
#include "enterprise/common/ipc/transfer_flags.h"
#include "enterprise/common/ipc/value_codec.h"

namespace Binding::Detail {

// The name of a parameter's element and its transfer flag.
struct ParameterName
{
    const char* name;
    uint32_t flag;

    ParameterName(const char* parameterName, uint32_t transferFlag = 0) : name(parameterName), flag(transferFlag) {}
};

// A parameter passed by value.
template <typename T>
class Argument
{
public:
    static constexpr bool kReadBack = ValueCodec<T>::kReadBackByValue;

    Argument(const T& value, const ParameterName& name)
        : m_value(value), m_second(value), m_name(name.name), m_flag(name.flag)
    {
    }

    void Write(Serialization::Serializer& serializer) const
    {
        ValueCodec<T>::Write(serializer, Serialization::MetaInfo(m_name), m_value);
    }
    void Read(Serialization::Deserializer& deserializer)
    {
        T temporary = m_second;
        ValueCodec<T>::Read(deserializer, Serialization::MetaInfo(m_name, true), temporary);
    }
    uint32_t GetFlag() const { return m_flag; }

private:
    T m_value;
    T m_second;
    std::string m_name;
    uint32_t m_flag;
};

// A parameter passed by const reference.
template <typename T>
class Argument<const T&>
{
public:
    static constexpr bool kReadBack = false;

    Argument(const T& value, const ParameterName& name) : m_value(value), m_name(name.name), m_flag(name.flag) {}

    void Write(Serialization::Serializer& serializer) const
    {
        ValueCodec<T>::Write(serializer, Serialization::MetaInfo(m_name), m_value);
    }
    void Read(Serialization::Deserializer&) {}
    uint32_t GetFlag() const { return m_flag; }

private:
    T m_value;
    std::string m_name;
    uint32_t m_flag;
};

// A parameter passed by non-const reference: in-out.
template <typename T>
class Argument<T&>
{
public:
    static constexpr bool kReadBack = true;

    Argument(T& variable, const ParameterName& name)
        : m_value(variable), m_target(&variable), m_name(name.name), m_flag(name.flag)
    {
    }

    void Write(Serialization::Serializer& serializer) const
    {
        ValueCodec<T>::Write(serializer, Serialization::MetaInfo(m_name), m_value);
    }
    void Read(Serialization::Deserializer& deserializer)
    {
        ValueCodec<T>::Read(deserializer, Serialization::MetaInfo(m_name, true), *m_target);
    }
    uint32_t GetFlag() const { return m_flag; }

private:
    T m_value;
    T* m_target;
    std::string m_name;
    uint32_t m_flag;
};

template <typename Signature>
class RequestImpl;

template <typename... Params>
class RequestImpl<void(Params...)> final : public RequestBase
{
public:
    using ParameterNames = std::array<ParameterName, sizeof...(Params)>;

    RequestImpl(const MethodIdentity& identity, const ParameterNames& names, Params... values)
        : RequestImpl(identity, names, std::index_sequence_for<Params...>(), std::forward<Params>(values)...)
    {
    }

    void WriteArguments(Serialization::Serializer& serializer) override
    {
        std::apply([&serializer](const auto&... arguments) { (WriteArgument(serializer, arguments), ...); },
                   m_arguments);
    }

    void ReadResults(Serialization::Deserializer& deserializer) override
    {
        std::apply([&deserializer](auto&... arguments) { (ReadArgument(deserializer, arguments), ...); }, m_arguments);
    }

private:
    template <size_t... Indexes>
    RequestImpl(const MethodIdentity& identity, const ParameterNames& names, std::index_sequence<Indexes...>,
                Params... values)
        : RequestBase(identity), m_arguments(Argument<Params>(std::forward<Params>(values), names[Indexes])...)
    {
    }

    template <typename A>
    static void WriteArgument(Serialization::Serializer& serializer, const A& argument)
    {
        if (IsWrittenWithCall(argument.GetFlag()))
            argument.Write(serializer);
    }

    template <typename A>
    static void ReadArgument(Serialization::Deserializer& deserializer, A& argument)
    {
        if constexpr (A::kReadBack) {
            if (!IsReadFromReply(argument.GetFlag()))
                return;
            try {
                argument.Read(deserializer);
            } catch (const Common::Error&) {
                // A missing or unreadable result leaves the caller's variable
                // as it is; the next one is still read.
            }
        }
    }

    std::tuple<Argument<Params>...> m_arguments;
};

// A new request of method `identity` with signature Signature, or none when a
// Common::Error is raised while building it (traced at level 1).
template <typename Signature, typename... Values>
std::unique_ptr<Request> BuildRequest(const MethodIdentity& identity,
                                      const typename RequestImpl<Signature>::ParameterNames& names, Values&&... values)
{
    try {
        return std::make_unique<RequestImpl<Signature>>(identity, names, std::forward<Values>(values)...);
    } catch (const Common::Error& error) {
        Common::TraceError(Common::TRACE_DEBUG, error);
        return nullptr;
    }
}

} // namespace Binding::Detail
