// Test units and a unit codec for tests of the request framework and the
// interface stubs while the object model's binary form is not at hand.
//
// FakeUnit is a unit with a label and no traits. The codec writes a unit like
// the serialization bridge ("is_empty", then "value" for a unit that is
// present), with the label's bytes as "value"; reading the label "corrupt"
// raises 0xFA0021 as a corrupted binary form would. Include this header in
// exactly one source file of a test binary: it defines the codec.
//
// Threading: none.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/common/location.h"
#include "enterprise/common/ipc/unit_codec.h"
#include "enterprise/common/por/item_processor.h"
#include "enterprise/common/por/unit.h"

namespace IpcTesting {

class NoTraits final : public Por::View::Traits
{
public:
    void ForEach(Por::ItemProcessor<const Por::View::Trait>&) const override {}
    void ForEachNamed(const Por::Name&, Por::ItemProcessor<const Por::View::Trait>&) const override {}
};

class FakeUnit final : public Por::View::Unit
{
public:
    explicit FakeUnit(std::string label) : m_label(std::move(label)) {}
    void Accept(Por::View::UnitReader&) const override {}
    const Por::View::Traits& traits() const override { return m_traits; }
    const std::string& Label() const { return m_label; }

private:
    std::string m_label;
    NoTraits m_traits;
};

inline std::shared_ptr<const Por::View::Unit> Unit(const std::string& label)
{
    return std::make_shared<FakeUnit>(label);
}

// The label of a fake unit; "(null)" for none.
inline std::string LabelOf(const std::shared_ptr<const Por::View::Unit>& unit)
{
    if (!unit)
        return "(null)";
    return static_cast<const FakeUnit&>(*unit).Label();
}

inline std::vector<std::string> LabelsOf(const std::vector<std::shared_ptr<const Por::View::Unit>>& units)
{
    std::vector<std::string> labels;
    for (const auto& unit : units)
        labels.push_back(LabelOf(unit));
    return labels;
}

} // namespace IpcTesting
