#include "enterprise/common/por/plain_object.h"

#include "core/common/location.h"
#include "enterprise/common/por/module_error.h"
#include "enterprise/common/por/por_errors.h"
#include "enterprise/common/por/types_mismatch.h"
#include "enterprise/common/por/unit_copier.h"
#include "enterprise/common/por/utils.h"

namespace Por {

namespace {

constexpr Common::SourceFile kSource("enterprise/common/por/plain_object", 0xb28c8ae39d2423c1ull - 245);

class ThrowingErrorHandler final : public ErrorHandler
{
public:
    void PropertyNotFound(const Name& property) override
    {
        Common::ThrowError(MakePorError(PorErrors::kPropertyNotFound, PorErrors::kPropertyNotFoundText,
                                        kSource.At("PropertyNotFound", 52), {property.ToUtf16()},
                                        RecordKind::WideText));
    }
    void PropertyTypeMismatch(const Name& property, int expected, int actual) override
    {
        const Name copy(property.ToUtf16()); // an owned copy of the text, hash 0
        Common::ThrowError(Util::Detail::MakePropertyTypeMismatchError(copy, expected, actual));
    }
    void PropertyProcessingError(const Name& property, const Common::Error& cause) override
    {
        Common::Error error = MakePorError(PorErrors::kGeneral, PorErrors::kPropertyProcessingText,
                                           kSource.At("PropertyProcessingError", 62), {property.ToUtf16()},
                                           RecordKind::WideText);
        (void)error.AddCause(cause); // returns the error itself
        Common::ThrowError(error);
    }
};

ThrowingErrorHandler g_throwingHandler;

} // namespace

ErrorHandler& GetThrowingErrorHandler() noexcept
{
    return g_throwingHandler;
}

ObjectContext::ObjectContext(std::unique_ptr<Construction::Unit> rootUnit, Construction::UnitFactory* unitFactory,
                             ErrorHandler* handler)
    : root(std::move(rootUnit)), branch(root.get()), factory(unitFactory),
      errorHandler(handler ? handler : &g_throwingHandler)
{
}

BaseObject::BaseObject(const ObjectContext& context)
    : m_root(context.root), m_branch(context.branch), m_factory(context.factory),
      m_errorHandler(context.errorHandler ? context.errorHandler : &g_throwingHandler),
      m_defaultValueProvider(context.defaultValueProvider)
{
}

Construction::UnitFactory* BaseObject::Factory() const
{
    if (!m_factory)
        Common::ThrowError(
            MakePorError(PorErrors::kGeneral, PorErrors::kUninitializedObjectText, kSource.At("Factory", 245)));
    return m_factory;
}

Construction::Unit* BaseObject::Branch() const
{
    if (!m_branch)
        Common::ThrowError(
            MakePorError(PorErrors::kGeneral, PorErrors::kUninitializedObjectText, kSource.At("Branch", 252)));
    return m_branch;
}

std::unique_ptr<Construction::Unit> BaseObject::CloneUnit() const
{
    Construction::UnitFactory* factory = Factory();
    return Util::CopyUnit(*Branch(), *factory);
}

const Construction::Unit* BaseObject::DefaultValue() const
{
    if (!m_defaultValueProvider)
        Common::ThrowError(MakePorError(PorErrors::kGeneral, PorErrors::kInternalErrorText,
                                        kSource.At("DefaultValue", 330), {}, RecordKind::WideText));
    return m_defaultValueProvider(*this);
}

void ClearNilMarker(Construction::Unit& unit, const Name& property)
{
    Construction::Property* found = Util::FindProperty(unit, property);
    if (!found)
        return;
    Construction::Unit& value = found->GetValue();
    if (Util::HasTrait(value, "Nil"))
        (void)Util::RemoveTrait(value, "Nil"); // the count is not needed
}

} // namespace Por
