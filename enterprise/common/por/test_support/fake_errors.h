// Error records with parameters from a table, for tests of code that reads
// the named parameters of errors (ordering, equality of Error units).
//
//     static const PorTesting::FakeParameters p{"n", {{"n", nullptr, nullptr, 42}}};
//     Common::Error e = PorTesting::Fake(0xFA0001, p);   // p must outlive e
//
// Threading: records are immutable once built.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/common/error.h"

namespace PorTesting {

// A record kind whose parameters come from a table, to reach every branch of
// the parameter comparison.
struct FakeParameter
{
    const char* name;
    const char16_t* wide;
    const char* text;
    uint64_t integer;
};

struct FakeParameters
{
    const char* names; // the list GetParameterNames answers (may be null)
    std::vector<FakeParameter> parameters;
};

struct FakeRecord
{
    Common::ErrorRecord header;
    const FakeParameters* parameters;
};

inline const FakeParameter* FindFakeParameter(const Common::ErrorRecord* record, const char* name)
{
    for (const FakeParameter& parameter : reinterpret_cast<const FakeRecord*>(record)->parameters->parameters) {
        if (std::strcmp(parameter.name, name) == 0)
            return &parameter;
    }
    return nullptr;
}

inline const Common::ErrorRecordKind kFakeKind = {
    Common::Detail::FreeRecordBlock,
    [](const Common::ErrorRecord* record) { return Common::Detail::CloneRecordBytes(record, sizeof(FakeRecord)); },
    [](const Common::ErrorRecord*) { return std::u16string(); },
    [](const Common::ErrorRecord* record, const char* name) -> uint64_t {
        const FakeParameter* parameter = FindFakeParameter(record, name);
        return parameter ? parameter->integer : 0;
    },
    [](const Common::ErrorRecord* record, const char* name) -> const char* {
        const FakeParameter* parameter = FindFakeParameter(record, name);
        return parameter ? parameter->text : nullptr;
    },
    [](const Common::ErrorRecord* record, const char* name) -> const char16_t* {
        const FakeParameter* parameter = FindFakeParameter(record, name);
        return parameter ? parameter->wide : nullptr;
    },
    [](const Common::ErrorRecord* record) { return reinterpret_cast<const FakeRecord*>(record)->parameters->names; },
};

// A record of code `code` answering `parameters`, followed by `cause`'s chain.
inline Common::Error Fake(unsigned code, const FakeParameters& parameters, const Common::Error& cause = Common::Success)
{
    auto* record = reinterpret_cast<FakeRecord*>(Common::Detail::AllocateRecordBlock(sizeof(FakeRecord)));
    std::memset(record, 0, sizeof(FakeRecord));
    record->header.code = code;
    record->header.kind = &kFakeKind;
    record->header.size = sizeof(FakeRecord);
    record->parameters = &parameters;
    record->header.next = const_cast<Common::ErrorRecord*>(cause.GetRecord());
    Common::ErrorRecord::AddReference(record->header.next);
    return Common::Error(&record->header);
}

} // namespace PorTesting
