// The typed element writer: values are written as a tree of named elements
// described by MetaInfo, without the writer of a value seeing the encoding.
// Also the scope types that tie an element's opening to its closing
// (WriteScope) and save and restore the serializer's context (ContextScope),
// and the iterator handed to container-aware serializers.
//
// Calling order: StartWriteMetaInfo/FinishWriteMetaInfo come in nested pairs
// with the same descriptor; every Write is a complete element by itself;
// GetData or GetSharedData is called once the outermost element is closed.
// The context value belongs to the callers and is only stored.
//
// Binary contract (Serializer, ContainerIterator): declaration order is the binary order; never insert or reorder.
//
// Threading: a serializer and its scopes belong to one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/common/guid.h"
#include "core/common/non_copyable.h"
#include "enterprise/serialize/dynamic_caster.h"
#include "enterprise/serialize/meta_info.h"
#include "enterprise/serialize/shared_data.h"
#include "platform/objrep/common_error.h"

namespace Serialization {

class Serializer : public Common::DynamicCasterImpl
{
public:
    ~Serializer() override = default;

    // One overload per value type, in the fixed value order.
    virtual void Write(const MetaInfo& meta, bool value) = 0;
    virtual void Write(const MetaInfo& meta, char value) = 0;
    virtual void Write(const MetaInfo& meta, const Common::Guid& value) = 0;
    virtual void Write(const MetaInfo& meta, const Common::Error& value) = 0;
    virtual void Write(const MetaInfo& meta, const std::u16string& value) = 0;
    virtual void Write(const MetaInfo& meta, const uint32_t& value) = 0;
    virtual void Write(const MetaInfo& meta, const double& value) = 0;
    virtual void Write(const MetaInfo& meta, const uint64_t& value) = 0;
    virtual void Write(const MetaInfo& meta, const int32_t& value) = 0;
    virtual void Write(const MetaInfo& meta, const int64_t& value) = 0;
    virtual void Write(const MetaInfo& meta, const std::string& value) = 0;
    virtual void Write(const MetaInfo& meta, const int16_t& value) = 0;
    virtual void Write(const MetaInfo& meta, const uint16_t& value) = 0;
    virtual void Write(const MetaInfo& meta, const std::vector<unsigned char>& value) = 0;
    virtual void Write(const MetaInfo& meta, const SharedData& value) = 0;

    // A text literal would otherwise silently become a bool.
    void Write(const MetaInfo& meta, const char* value) = delete;
    void Write(const MetaInfo& meta, const char16_t* value) = delete;

    // Finishes the packet and hands its bytes over (replacing `out`).
    virtual void GetData(std::vector<unsigned char>& out) = 0;
    // Finishes the packet and hands its bytes over in a new shared block.
    virtual SharedData GetSharedData() = 0;

    // A name-only descriptor of the innermost open element (empty name when
    // none is open).
    virtual MetaInfo GetCurrentMetaInfo() const = 0;
    virtual void StartWriteMetaInfo(const MetaInfo& meta) = 0;
    virtual void FinishWriteMetaInfo(const MetaInfo& meta) = 0;

    virtual void SetContext(void* context) = 0;
    virtual void* GetContext() const = 0;
};

// An element opened for the lifetime of a block. The destructor closes it
// (unless Close was called); a Common::Error raised by that close is traced
// at level 4 and dropped, so an error that unwinds the block is the one that
// reaches the caller.
class WriteScope
{
public:
    // Opens the element; if that throws, nothing is open.
    WriteScope(Serializer& serializer, const MetaInfo& meta);
    ~WriteScope();

    // Closes the element now; errors reach the caller. Later calls and the
    // destructor do nothing.
    void Close();

    WriteScope(const WriteScope&) = delete;
    WriteScope& operator=(const WriteScope&) = delete;

private:
    Serializer* m_serializer;
    MetaInfo m_meta;
    bool m_closed;
};

// Sets the serializer's context for the lifetime of a block and restores the
// previous one at its end (also while unwinding). A scope opened with the
// value already set touches nothing.
class ContextScope
{
public:
    ContextScope(Serializer& serializer, void* context);
    ~ContextScope();

    ContextScope(const ContextScope&) = delete;
    ContextScope& operator=(const ContextScope&) = delete;

private:
    Serializer* m_serializer;
    void* m_context;
    void* m_saved;
    bool m_armed;
};

// An iterator over a container being written, for serializers that accept a
// whole container at once.
class ContainerIterator : private Common::NonCopyable
{
public:
    virtual ~ContainerIterator() = default;

    virtual bool HasCurrent() const = 0;
    virtual void Next() = 0;
    virtual void SerializeCurrent(Serializer& serializer) = 0;
};

// ContainerIterator over [current, end) of a std::vector<T>. Each element is
// written as an element "item" whose content comes from
// SerializeValue(Serializer&, const T&), found by argument-dependent lookup
// (the owner of T declares it, in its own namespace or in Serialization).
template <typename T>
class ValueIterator final : public ContainerIterator
{
public:
    using Iterator = typename std::vector<T>::const_iterator;

    ValueIterator(Iterator current, Iterator end) : m_current(current), m_end(end) {}

    bool HasCurrent() const override { return m_current != m_end; }
    void Next() override { ++m_current; }
    void SerializeCurrent(Serializer& serializer) override
    {
        WriteScope scope(serializer, MetaInfo(kItemTag));
        SerializeValue(serializer, *m_current);
    }

private:
    Iterator m_current;
    Iterator m_end;
};

} // namespace Serialization
