#include "enterprise/common/por/const_unit_accessor.h"

#include "core/common/location.h"
#include "enterprise/common/por/module_error.h"
#include "enterprise/common/por/path_utils.h"
#include "enterprise/common/por/por_errors.h"
#include "enterprise/common/por/unit_copier.h"

namespace Por {

namespace {
constexpr Common::SourceFile kSource("enterprise/common/por/const_unit", 0xe1b1dee38a2ab984ull - 89);
} // namespace

Common::Error UnitMissingPropertyAccess(const std::u16string& path)
{
    return MakePorError(PorErrors::kGeneral, PorErrors::kPathAccessText, kSource.At("UnitMissingPropertyAccess", 89),
                        {path}, RecordKind::WideText);
}

ConstUnitAccessor::ConstUnitAccessor(const Construction::UnitFactory* factory)
    : m_root(std::make_shared<std::shared_ptr<const View::Unit>>()), m_factory(factory)
{
}

ConstUnitAccessor::ConstUnitAccessor(const ConstUnitAccessor& other, const std::u16string& path,
                                     const Construction::UnitFactory* factory)
    : m_root(other.m_root), m_path(path), m_factory(factory)
{
}

void ConstUnitAccessor::Reset(std::shared_ptr<const View::Unit> root, const std::u16string& path)
{
    *m_root = std::move(root);
    m_path = path;
}

void ConstUnitAccessor::Assign(const ConstUnitAccessor& other, const std::u16string& path)
{
    m_root = other.m_root;
    m_path = path;
}

bool ConstUnitAccessor::HasUnit() const
{
    return *m_root && Util::FindConstUnitByPath(m_root->get(), m_path) != nullptr;
}

const View::Unit* ConstUnitAccessor::ResolveUnit() const
{
    const View::Unit* unit = Util::FindConstUnitByPath(m_root->get(), m_path);
    if (!unit)
        Common::ThrowError(UnitMissingPropertyAccess(m_path));
    return unit;
}

std::shared_ptr<const View::Unit> ConstUnitAccessor::Get() const
{
    if (!HasUnit())
        return nullptr;
    // Shares the ownership of the root; the sub-unit is never deleted through it.
    return std::shared_ptr<const View::Unit>(*m_root, ResolveUnit());
}

std::unique_ptr<Construction::Unit> ConstUnitAccessor::CopyUnit() const
{
    const std::shared_ptr<const View::Unit> unit = Get();
    if (!unit)
        return nullptr; // no root, or nothing at the path
    return Util::CopyUnit(*unit, *m_factory);
}

} // namespace Por
