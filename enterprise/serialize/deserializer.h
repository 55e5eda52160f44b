// The typed element reader, the mirror of Serializer: values are read from a
// tree of named elements described by MetaInfo. Also ReadScope, which ties
// entering an element to leaving it.
//
// Calling order: StartReadMetaInfo/FinishReadMetaInfo come in nested pairs
// with the same descriptor; every Read is a complete element by itself.
// Failures are raised as Common::Error.
//
// Binary contract (Deserializer): declaration order is the binary order; never insert or reorder.
//
// Threading: a deserializer and its scopes belong to one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/common/guid.h"
#include "enterprise/serialize/dynamic_caster.h"
#include "enterprise/serialize/meta_info.h"
#include "enterprise/serialize/shared_data.h"
#include "platform/objrep/common_error.h"

namespace Serialization {

class Deserializer : public Common::DynamicCasterImpl
{
public:
    ~Deserializer() override = default;

    // One overload per value type, in the fixed value order.
    virtual void Read(const MetaInfo& meta, bool& value) = 0;
    virtual void Read(const MetaInfo& meta, char& value) = 0;
    virtual void Read(const MetaInfo& meta, Common::Guid& value) = 0;
    virtual void Read(const MetaInfo& meta, Common::Error& value) = 0;
    virtual void Read(const MetaInfo& meta, std::u16string& value) = 0;
    virtual void Read(const MetaInfo& meta, uint32_t& value) = 0;
    virtual void Read(const MetaInfo& meta, double& value) = 0;
    virtual void Read(const MetaInfo& meta, uint64_t& value) = 0;
    virtual void Read(const MetaInfo& meta, int32_t& value) = 0;
    virtual void Read(const MetaInfo& meta, int64_t& value) = 0;
    virtual void Read(const MetaInfo& meta, std::string& value) = 0;
    virtual void Read(const MetaInfo& meta, int16_t& value) = 0;
    virtual void Read(const MetaInfo& meta, uint16_t& value) = 0;
    virtual void Read(const MetaInfo& meta, std::vector<unsigned char>& value) = 0;
    virtual void Read(const MetaInfo& meta, SharedData& value) = 0;

    // A name-only descriptor of the element the next lookup takes first.
    virtual MetaInfo GetCurrentMetaInfo() const = 0;
    virtual void StartReadMetaInfo(const MetaInfo& meta) = 0;
    virtual void FinishReadMetaInfo(const MetaInfo& meta) = 0;
    // The version of the element being read.
    virtual uint64_t GetSubjectVersion() const = 0;
};

// An element entered for the lifetime of a block. The destructor leaves it
// (unless Close was called); a Common::Error raised by leaving is traced at
// level 4 and dropped.
class ReadScope
{
public:
    // Enters the element; if that throws, nothing is entered.
    ReadScope(Deserializer& deserializer, const MetaInfo& meta);
    ~ReadScope();

    // Leaves the element now; errors reach the caller. Later calls and the
    // destructor do nothing.
    void Close();

    ReadScope(const ReadScope&) = delete;
    ReadScope& operator=(const ReadScope&) = delete;

private:
    Deserializer* m_deserializer;
    MetaInfo m_meta;
    bool m_closed;
};

} // namespace Serialization
