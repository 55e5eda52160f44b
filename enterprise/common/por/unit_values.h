// The value interfaces of the units, at the three access levels: View (read),
// Modification (change values in place, keep the structure) and Construction
// (restructure, take owned units over). The classes of one interface form one
// single-inheritance chain View <- Modification <- Construction; each level
// adds its operations after those of the level above.
//
// Owned arguments: a taking operation receives `std::unique_ptr<X>&&` and
// empties the caller's pointer once it has taken the object over (a failed
// call leaves it with the caller); the Modification-level copying adders of
// arrays receive a reference to the caller's owning pointer, store a deep copy
// and leave the caller's pointer and unit as they were.
//
// Declaration order is the binary order; never insert or reorder.
// Threading: none; a unit tree must not be changed by two threads at once.
#pragma once

#include <cstddef>
#include <memory>

#include "core/common/non_copyable.h"
#include "enterprise/common/por/item_processor.h"
#include "enterprise/common/por/name.h"
#include "enterprise/common/por/property_iterator.h"
#include "enterprise/common/por/unit_fwd.h"
#include "enterprise/common/por/value_kind.h"

namespace Por {

namespace View {

class NilValue : private Common::NonCopyable
{
public:
    virtual ~NilValue() = default;
};

template <typename T>
class ScalarValue : private Common::NonCopyable
{
public:
    virtual ~ScalarValue() = default;
    virtual T Get() const = 0;
};

template <typename T>
class ComplexValue : private Common::NonCopyable
{
public:
    virtual ~ComplexValue() = default;
    virtual const T& Get() const = 0;
};

class ArrayValue : private Common::NonCopyable
{
public:
    virtual ~ArrayValue() = default;
    virtual bool IsEmpty() const = 0;
    virtual size_t GetSize() const = 0;
    // Front and Back require a non-empty array: test IsEmpty first.
    virtual void Front(ItemProcessor<const Unit>& processor) const = 0;
    virtual void Back(ItemProcessor<const Unit>& processor) const = 0;
    virtual void At(size_t index, ItemProcessor<const Unit>& processor) const = 0;
    virtual void ForEach(ItemProcessor<const Unit>& processor) const = 0;
};

class CompositeValue : private Common::NonCopyable
{
public:
    virtual ~CompositeValue() = default;
    virtual void ForEach(ItemProcessor<const Property>& processor) const = 0;
    // Hands the property of that name over once (its answer is ignored) and
    // answers true, or answers false when there is none.
    virtual bool ForEachNamed(const Name& name, ItemProcessor<const Property>& processor) const = 0;
    virtual PropertyIterator<const Property> Enumerate() const = 0;
};

} // namespace View

namespace Modification {

class NilValue : public View::NilValue
{
};

template <typename T>
class ScalarValue : public View::ScalarValue<T>
{
public:
    virtual void Set(T value) = 0;
};

template <typename T>
class ComplexValue : public View::ComplexValue<T>
{
public:
    virtual void Set(const T& value) = 0;
};

class ArrayValue : public View::ArrayValue
{
public:
    using View::ArrayValue::At;
    using View::ArrayValue::Back;
    using View::ArrayValue::ForEach;
    using View::ArrayValue::Front;

    virtual void Clear() = 0;
    // Inserts a deep copy before `index`; index == GetSize() appends.
    virtual void Insert(size_t index, std::unique_ptr<Construction::Unit>& unit) = 0;
    virtual void Erase(size_t index) = 0;
    virtual void Front(ItemProcessor<Unit>& processor) = 0;
    virtual void Back(ItemProcessor<Unit>& processor) = 0;
    virtual void PushBack(std::unique_ptr<Construction::Unit>& unit) = 0;
    virtual void PushFront(std::unique_ptr<Construction::Unit>& unit) = 0;
    virtual void PopBack() = 0;
    virtual void PopFront() = 0;
    virtual void At(size_t index, ItemProcessor<Unit>& processor) = 0;
    virtual void ForEach(ItemProcessor<Unit>& processor) = 0;
};

class CompositeValue : public View::CompositeValue
{
public:
    using View::CompositeValue::ForEach;
    using View::CompositeValue::ForEachNamed;

    virtual void ForEach(ItemProcessor<Property>& processor) = 0;
    virtual bool ForEachNamed(const Name& name, ItemProcessor<Property>& processor) = 0;
};

} // namespace Modification

namespace Construction {

class NilValue : public Modification::NilValue
{
};

template <typename T>
class ScalarValue : public Modification::ScalarValue<T>
{
};

template <typename T>
class ComplexValue : public Modification::ComplexValue<T>
{
};

class ArrayValue : public Modification::ArrayValue
{
public:
    using Modification::ArrayValue::At;
    using Modification::ArrayValue::Back;
    using Modification::ArrayValue::ForEach;
    using Modification::ArrayValue::Front;
    using Modification::ArrayValue::Insert;
    using Modification::ArrayValue::PushBack;
    using Modification::ArrayValue::PushFront;

    // Takes the unit over and inserts it before `index`.
    virtual void Insert(size_t index, std::unique_ptr<Unit>&& unit) = 0;
    virtual void Front(ItemProcessor<Unit>& processor) = 0;
    virtual void Back(ItemProcessor<Unit>& processor) = 0;
    virtual void PushBack(std::unique_ptr<Unit>&& unit) = 0;
    virtual void PushFront(std::unique_ptr<Unit>&& unit) = 0;
    virtual void At(size_t index, ItemProcessor<Unit>& processor) = 0;
    virtual void ForEach(ItemProcessor<Unit>& processor) = 0;
};

class CompositeValue : public Modification::CompositeValue
{
public:
    using Modification::CompositeValue::ForEach;
    using Modification::CompositeValue::ForEachNamed;
    using View::CompositeValue::Enumerate;

    virtual void ForEach(ItemProcessor<Property>& processor) = 0;
    virtual bool ForEachNamed(const Name& name, ItemProcessor<Property>& processor) = 0;
    // Takes the property over, replacing (deleting) one of the same name.
    virtual void Set(std::unique_ptr<Property>&& property) = 0;
    virtual void Remove(const Name& name) = 0;
    virtual PropertyIterator<Property> Enumerate() = 0;
};

} // namespace Construction

} // namespace Por
