#include "enterprise/common/por/in_memory_unit_factory.h"

#include <cstdlib>

#include "core/common/error_blob.h"
#include "core/common/mutex.h"
#include "core/common/static_recursive_lock.h"
#include "enterprise/common/por/object.h"
#include "enterprise/common/por/property_holder.h"
#include "enterprise/common/por/trait_holder.h"

namespace Por::Construction {

namespace {

// Zero-filled, so usable by start-up code of any translation unit.
Common::StaticRecursiveLock g_defaultFactoryLock;

void DestroyDefaultFactoryLock()
{
    g_defaultFactoryLock.Destroy();
}

[[maybe_unused]] const bool g_lockDestructionRegistered = (std::atexit(&DestroyDefaultFactoryLock), true);

// A copy of `error` that shares no record with it; a success is kept as it is.
Common::Error DetachError(const Common::Error& error)
{
    if (error.GetCode() == 0)
        return error;
    uint32_t size = 0;
    const std::unique_ptr<unsigned char[]> blob(Common::SerializeError(error, size));
    return Common::DeserializeError(blob.get(), size);
}

} // namespace

std::unique_ptr<Unit> InMemoryUnitFactory::CreateNil() const
{
    return std::make_unique<Object<NilValueHolder>>();
}

#define POR_DEFINE_CREATE_SCALAR(Name, Type)                                  \
    std::unique_ptr<Unit> InMemoryUnitFactory::Create##Name(Type value) const \
    {                                                                         \
        return std::make_unique<Object<ScalarValueHolder<Type>>>(value);      \
    }
POR_SCALAR_KINDS(POR_DEFINE_CREATE_SCALAR)
#undef POR_DEFINE_CREATE_SCALAR

std::unique_ptr<Unit> InMemoryUnitFactory::CreateBlob(const BlobType& value) const
{
    return std::make_unique<Object<ComplexValueHolder<BlobType>>>(value);
}

std::unique_ptr<Unit> InMemoryUnitFactory::CreateGuid(const GuidType& value) const
{
    return std::make_unique<Object<ComplexValueHolder<GuidType>>>(value);
}

std::unique_ptr<Unit> InMemoryUnitFactory::CreateString(const std::u16string& value) const
{
    return std::make_unique<Object<ComplexValueHolder<std::u16string>>>(value);
}

std::unique_ptr<Unit> InMemoryUnitFactory::TakeString(std::u16string& value) const
{
    return std::make_unique<Object<ComplexValueHolder<std::u16string>>>(std::move(value));
}

std::unique_ptr<Unit> InMemoryUnitFactory::CreateError(const Common::Error& value) const
{
    return std::make_unique<Object<ComplexValueHolder<Common::Error>>>(DetachError(value));
}

std::unique_ptr<Unit> InMemoryUnitFactory::CreateArray() const
{
    return std::make_unique<Object<ArrayValueHolder>>();
}

std::unique_ptr<Unit> InMemoryUnitFactory::CreateComposite() const
{
    return std::make_unique<Object<CompositeValueHolder>>();
}

std::unique_ptr<View::Trait> InMemoryUnitFactory::CreateTrait(const Name& name, std::unique_ptr<Unit>&& value) const
{
    return std::make_unique<TraitHolder>(name, std::move(value));
}

std::unique_ptr<Property> InMemoryUnitFactory::CreateProperty(const Name& name, std::unique_ptr<Unit>&& value) const
{
    return std::make_unique<PropertyHolder>(name, std::move(value));
}

std::unique_ptr<UnitFactory> CreateInMemoryUnitFactory()
{
    return std::make_unique<InMemoryUnitFactory>();
}

UnitFactory* GetDefaultUnitFactory()
{
    Common::LockGuard guard(g_defaultFactoryLock);
    static const std::unique_ptr<UnitFactory> factory = CreateInMemoryUnitFactory();
    return factory.get();
}

} // namespace Por::Construction
