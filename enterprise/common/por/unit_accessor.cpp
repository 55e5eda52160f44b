#include "enterprise/common/por/unit_accessor.h"

#include "core/common/location.h"
#include "core/common/text_conversion.h"
#include "enterprise/common/por/module_error.h"
#include "enterprise/common/por/path_utils.h"
#include "enterprise/common/por/por_errors.h"
#include "enterprise/common/por/unit_copier.h"
#include "enterprise/common/por/view_unit_factory.h"

namespace Por {

namespace {
constexpr Common::SourceFile kSource("enterprise/common/por/unit_accessor");
} // namespace

UnitAccessor::UnitAccessor() : UnitAccessor(GetViewUnitFactory()->CreateComposite())
{
}

UnitAccessor::UnitAccessor(std::unique_ptr<Construction::Unit> root)
    : UnitAccessor(std::shared_ptr<Construction::Unit>(std::move(root)))
{
}

UnitAccessor::UnitAccessor(std::shared_ptr<Construction::Unit> root)
    : ConstUnitAccessor(GetViewUnitFactory()),
      m_root(std::make_shared<std::shared_ptr<Construction::Unit>>(std::move(root)))
{
    ConstUnitAccessor::Reset(*m_root, std::u16string());
}

UnitAccessor::UnitAccessor(const View::Unit& unit) : UnitAccessor(std::unique_ptr<Construction::Unit>())
{
    SetCopy(unit);
}

UnitAccessor::UnitAccessor(const UnitAccessor& other)
    : ConstUnitAccessor(other, other.GetPath(), other.GetFactory()), m_root(other.m_root)
{
}

UnitAccessor::UnitAccessor(const UnitAccessor& parent, const std::u16string& path,
                           const Construction::UnitFactory* factory)
    : ConstUnitAccessor(parent, path, factory), m_root(parent.m_root)
{
}

UnitAccessor UnitAccessor::operator[](const char* text) const
{
    std::u16string path = GetPath();
    if (text[0] == '.' || text[0] == '^') {
        if (text[0] != '.')
            path += u'.';
        path += Common::FromUtf8(text);
    } else {
        path = Util::MakeChildPath(path, Name(std::string_view(text)));
    }
    return UnitAccessor(*this, path, GetFactory());
}

void UnitAccessor::Set(std::unique_ptr<Construction::Unit>& unit)
{
    if (GetPath().empty()) {
        Reset(std::shared_ptr<Construction::Unit>(std::move(unit)), std::u16string());
        return;
    }
    if (!unit) // nothing to copy to the path
        ThrowModuleError(PorErrors::kNullUnit, PorErrors::kNullUnitText, kSource.At("Set", __LINE__));
    Reset(Util::PutUnitInLocation(*m_root, *unit, GetPath(), GetFactory()), GetPath());
}

void UnitAccessor::SetCopy(const View::Unit& unit)
{
    std::unique_ptr<Construction::Unit> copy = Util::CopyUnit(unit, *GetFactory());
    Set(copy);
}

std::shared_ptr<Construction::Unit> UnitAccessor::GetShared() const
{
    if (!HasUnit())
        return nullptr;
    Construction::Unit* unit = Util::FindUnitByPath(m_root->get(), GetPath());
    if (!unit) // the view lookup read a '^' step as a trait, this one as a property
        Common::ThrowError(UnitMissingPropertyAccess(GetPath()));
    return std::shared_ptr<Construction::Unit>(*m_root, unit);
}

void UnitAccessor::Reset(std::shared_ptr<Construction::Unit> root, const std::u16string& path)
{
    *m_root = root;
    ConstUnitAccessor::Reset(std::move(root), path);
}

} // namespace Por
