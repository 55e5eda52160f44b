#include "enterprise/common/dml/object_key.h"

#include "core/common/error.h"
#include "core/common/message_catalogue.h"
#include "enterprise/common/dml/dml_errors.h"
#include "enterprise/common/por/hierarchy_walk.h"
#include "enterprise/common/por/unit_copier.h"
#include "enterprise/common/por/utils.h"
#include "enterprise/common/por/value_type_index.h"

namespace Dml {
namespace {

constexpr Common::SourceFile kSource("enterprise/common/dml/get_object_key", 0x55d767a21694367ull - 99);

constexpr Por::Name kObjectId("ObjectID");

// The search state of GetObjectKey: the unit walk hands over each unit, the
// trait enumeration the first "PrimaryKey" trait of it.
class ExtractKeyObject final : public Por::ItemProcessor<const Por::View::Unit>,
                               public Por::ItemProcessor<const Por::View::Trait>
{
public:
    bool Process(const Por::View::Unit& unit) override
    {
        unit.traits().ForEachNamed("PrimaryKey", static_cast<Por::ItemProcessor<const Por::View::Trait>&>(*this));
        if (!m_key)
            return false;
        if (Por::Util::GetValueTypeIndex(*m_key) == static_cast<int>(Por::ValueKind::Nil))
            m_key = &unit;
        return true;
    }

    bool Process(const Por::View::Trait& trait) override
    {
        m_key = &trait.GetValue();
        return true;
    }

    const Por::View::Unit* Key() const noexcept { return m_key; }

private:
    const Por::View::Unit* m_key = nullptr;
};

} // namespace

const Por::View::Unit& GetObjectKey(const Por::View::Unit& object)
{
    ExtractKeyObject search;
    Por::ForEachUnitByLevel(object, static_cast<Por::ItemProcessor<const Por::View::Unit>&>(search));
    if (!search.Key())
        Common::ThrowError(Common::MakeTraceLevelError(
            DML_ERROR_NO_OBJECT_KEY, Common::GetMessageText(kNoObjectKeyText), kSource.At("GetObjectKey", 99)));
    return *search.Key();
}

std::unique_ptr<Por::Construction::Unit> AddObjectIdTrait(std::unique_ptr<Por::Construction::Unit> unit,
                                                          const Por::Construction::UnitFactory& factory)
{
    Por::Util::AddNilTrait(*unit, kObjectId, factory);
    return unit;
}

std::unique_ptr<Por::Construction::Unit> EnsureKeyTrait(std::unique_ptr<Por::Construction::Unit> unit,
                                                        const Por::Construction::UnitFactory& factory)
{
    if (!Por::Util::HasTrait(*unit, "PrimaryKey") && !Por::Util::HasTrait(*unit, "ForeignKey"))
        Por::Util::AddNilTrait(*unit, "PrimaryKey", factory);
    return AddObjectIdTrait(std::move(unit), factory);
}

std::unique_ptr<Por::Construction::Unit> MakeKeyPattern(const Por::View::Unit& key,
                                                        const Por::Construction::UnitFactory& factory)
{
    return EnsureKeyTrait(Por::Util::CopyUnit(key, factory), factory);
}

bool IsKeyPattern(const Por::View::Unit& pattern)
{
    return Por::Util::HasTrait(pattern, kObjectId);
}

} // namespace Dml
