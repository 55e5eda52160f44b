#include "enterprise/common/dml/tools/objpatcher/error_parameters.h"

#include <cstring>
#include <string>

#include "core/common/error.h"

namespace Objpatcher {

namespace {

// The record block: the header, the address of the described record, the
// list of parameter names and the added name and value pairs (unused pairs
// are null); the texts follow inline.
struct ParameterRecord
{
    Common::ErrorRecord header;
    uint64_t described;
    uint64_t names;
    uint64_t added[2 * kMaxAddedParameters];
};

constexpr size_t kReferenceCount = 2 + 2 * kMaxAddedParameters;
static_assert(sizeof(ParameterRecord) == sizeof(Common::ErrorRecord) + kReferenceCount * sizeof(uint64_t));

const ParameterRecord* AsParameterRecord(const Common::ErrorRecord* record)
{
    return reinterpret_cast<const ParameterRecord*>(record);
}

Common::ErrorRecord* Described(const Common::ErrorRecord* record)
{
    return reinterpret_cast<Common::ErrorRecord*>(static_cast<uintptr_t>(AsParameterRecord(record)->described));
}

// The added value of `name`; null when `name` is not an added parameter.
const char16_t* AddedValue(const Common::ErrorRecord* record, const char* name)
{
    const ParameterRecord* parameters = AsParameterRecord(record);
    for (size_t i = 0; i < kMaxAddedParameters; ++i) {
        const auto* added = static_cast<const char*>(
            Common::Detail::ResolveTextReference(record, parameters->added[2 * i]));
        if (added && std::strcmp(added, name) == 0)
            return static_cast<const char16_t*>(
                Common::Detail::ResolveTextReference(record, parameters->added[2 * i + 1]));
    }
    return nullptr;
}

void FreeParameterRecord(Common::ErrorRecord* record)
{
    Common::ErrorRecord* described = Described(record);
    Common::Detail::FreeRecordBlock(record);
    Common::ErrorRecord::Release(described);
}

Common::ErrorRecord* CloneParameterRecord(const Common::ErrorRecord* record)
{
    Common::ErrorRecord* clone = Common::Detail::CloneRecordBytes(record, record->size);
    if (clone)
        Common::ErrorRecord::AddReference(Described(record));
    return clone;
}

std::u16string DescribedText(const Common::ErrorRecord* record)
{
    const Common::ErrorRecord* described = Described(record);
    return described->kind->GetText(described);
}

uint64_t IntegerParameter(const Common::ErrorRecord* record, const char* name)
{
    if (AddedValue(record, name))
        return 0;
    const Common::ErrorRecord* described = Described(record);
    return described->kind->GetIntegerParameter(described, name);
}

const char* TextParameter(const Common::ErrorRecord* record, const char* name)
{
    if (AddedValue(record, name))
        return nullptr;
    const Common::ErrorRecord* described = Described(record);
    return described->kind->GetTextParameter(described, name);
}

const char16_t* WideTextParameter(const Common::ErrorRecord* record, const char* name)
{
    if (const char16_t* value = AddedValue(record, name))
        return value;
    const Common::ErrorRecord* described = Described(record);
    return described->kind->GetWideTextParameter(described, name);
}

const char* ParameterNames(const Common::ErrorRecord* record)
{
    return static_cast<const char*>(Common::Detail::ResolveTextReference(record, AsParameterRecord(record)->names));
}

const Common::ErrorRecordKind kParameterRecordKind{FreeParameterRecord, CloneParameterRecord, DescribedText,
                                                   IntegerParameter,    TextParameter,        WideTextParameter,
                                                   ParameterNames};

} // namespace

Common::Error AddErrorParameters(const Common::Error& error, std::initializer_list<ErrorParameter> parameters)
{
    Common::ErrorRecord* described = const_cast<Common::ErrorRecord*>(error.GetRecord());
    if (error.IsSuccess() || parameters.size() == 0)
        return error;
    const char* ownNames = error.GetParameterNames();
    std::string names = ownNames ? ownNames : "";
    Common::Detail::RecordText texts[kReferenceCount] = {};
    size_t slot = 2;
    for (const ErrorParameter& parameter : parameters) {
        if (slot == kReferenceCount)
            break;
        if (!names.empty())
            names += ',';
        names += parameter.name;
        texts[slot++] = {parameter.name, 1};
        texts[slot++] = {parameter.value.c_str(), sizeof(char16_t)};
    }
    texts[1] = {names.c_str(), 1};
    Common::ErrorRecord* record = Common::Detail::BuildTextsRecord(described->code, &kParameterRecordKind,
                                                                   described->location, texts, kReferenceCount);
    if (record == Common::GetOutOfMemoryErrorRecord())
        return error;
    auto* parameterRecord = reinterpret_cast<ParameterRecord*>(record);
    parameterRecord->described = reinterpret_cast<uintptr_t>(described);
    Common::ErrorRecord::AddReference(described);
    record->next = described->next;
    Common::ErrorRecord::AddReference(record->next);
    return Common::Error(record);
}

} // namespace Objpatcher
