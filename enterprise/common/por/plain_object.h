// Plain objects: typed views of one branch of a construction unit tree whose
// root they share, with a unit factory, an error handler for reports about
// their properties and an optional default-value provider. The DML operation
// records derive from Por::BaseObject.
//
// Por::ErrorHandler receives the reports; the static throwing handler (the
// default of every object) throws Common::Error: 0xFA000D "POR: Property '{0}'
// cannot be found.", 0xFA000A (message 369, the kinds named), and 0xFA0001
// "POR: Property '{0}' processing error has occurred." with the cause attached.
//
// Declaration order of the virtual operations is the binary order; never
// insert or reorder.
// Threading: an object is used by one thread at a time.
#pragma once

#include <memory>

#include "core/common/error.h"
#include "core/common/non_copyable.h"
#include "enterprise/common/por/unit_factory.h"

namespace Serialization {
// An empty base of serializable categories.
class CategoryHolder
{
};
} // namespace Serialization

namespace Por {

class ErrorHandler : private Common::NonCopyable
{
public:
    virtual ~ErrorHandler() = default;
    virtual void PropertyNotFound(const Name& property) = 0;
    virtual void PropertyTypeMismatch(const Name& property, int expected, int actual) = 0;
    virtual void PropertyProcessingError(const Name& property, const Common::Error& cause) = 0;
};

class BaseObject;
using DefaultValueProvider = const Construction::Unit* (*)(const BaseObject& object);

struct ObjectContext
{
    // Takes the root over; a null handler selects the static throwing handler.
    ObjectContext(std::unique_ptr<Construction::Unit> root, Construction::UnitFactory* factory, ErrorHandler* handler);

    std::shared_ptr<Construction::Unit> root;
    Construction::Unit* branch;
    Construction::UnitFactory* factory;
    ErrorHandler* errorHandler;
    DefaultValueProvider defaultValueProvider = nullptr;
};

class PlainObject : private Common::NonCopyable
{
};

class BaseObject : public PlainObject, public ::Serialization::CategoryHolder
{
public:
    explicit BaseObject(const ObjectContext& context);
    virtual ~BaseObject() = default;

    // A deep copy of the branch made by the object's factory.
    virtual std::unique_ptr<Construction::Unit> CloneUnit() const;
    // The provider's answer; without one, Common::Error 0xFA0001 (message 337).
    virtual const Construction::Unit* DefaultValue() const;

    // Common::Error 0xFA0001 (message 344) when not set.
    Construction::UnitFactory* Factory() const;
    Construction::Unit* Branch() const;
    ErrorHandler& GetErrorHandler() const noexcept { return *m_errorHandler; }
    void SetDefaultValueProvider(DefaultValueProvider provider) noexcept { m_defaultValueProvider = provider; }

private:
    std::shared_ptr<Construction::Unit> m_root;
    Construction::Unit* m_branch;
    Construction::UnitFactory* m_factory;
    ErrorHandler* m_errorHandler;
    DefaultValueProvider m_defaultValueProvider;
};

// The static throwing handler.
ErrorHandler& GetThrowingErrorHandler() noexcept;

// Removes every trait "Nil" from the value of the property of that name, when
// there is such a property and it carries one.
void ClearNilMarker(Construction::Unit& unit, const Name& property);

} // namespace Por
