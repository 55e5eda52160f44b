#include "enterprise/common/por/const_data_accessor.h"

#include <sstream>

#include "core/common/location.h"
#include "core/common/text_conversion.h"
#include "enterprise/common/por/map_lookup.h"
#include "enterprise/common/por/module_error.h"
#include "enterprise/common/por/por_errors.h"
#include "enterprise/common/por/unit_printer.h"

namespace Por {

namespace {
constexpr Common::SourceFile kSource("enterprise/common/por/const_data_accessor", 0xa472747888eece00ull - 122);
} // namespace

ConstDataAccessor& ConstDataAccessor::operator=(ConstDataAccessor&& other) noexcept
{
    if (this != &other) {
        m_owner = std::move(other.m_owner);
        m_unit = other.m_unit;
        m_key = other.m_key;
    }
    return *this;
}

ConstDataAccessor ConstDataAccessor::GetChild(const Name& key) const
{
    if (!m_unit)
        return ConstDataAccessor(m_owner, nullptr, m_key); // the first missing key travels down
    const View::Unit* child = FindMapElement(m_unit, key);
    return ConstDataAccessor(m_owner, child, child ? Name() : key);
}

void ConstDataAccessor::EnsureUnitIsValid() const
{
    if (m_unit)
        return;
    const std::u16string key = m_key.ToUtf16();
    if (m_owner) {
        std::ostringstream text;
        text << "Unit: ";
        Util::PrintUnit(*m_owner, "", text, true);
        ThrowModuleError(PorErrors::kElementNotFound, PorErrors::kElementNotFoundText,
                         kSource.At("EnsureUnitIsValid", 122), {key, Common::FromUtf8(text.str().c_str())});
    }
    ThrowModuleError(PorErrors::kElementNotFound, PorErrors::kElementNotFoundText, kSource.At("EnsureUnitIsValid", 125),
                     {key});
}

const View::Unit& ConstDataAccessor::GetUnit() const
{
    EnsureUnitIsValid();
    return *m_unit;
}

} // namespace Por
