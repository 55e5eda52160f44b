#include "enterprise/common/por/hierarchy_walk.h"

namespace Por::Util {

namespace {

// Emits the value event of one unit and, when descending, walks the nested
// units of its container.
class HierarchyWalker
{
public:
    HierarchyWalker(TraitValueGuide& guide, UnitWalker& walker, bool descend) noexcept
        : m_guide(guide), m_walker(walker), m_descend(descend)
    {
    }

    void operator()(const View::NilValue&) { m_walker.Nil(); }
#define POR_WALK_SCALAR(Kind, Type)                       \
    void operator()(const View::ScalarValue<Type>& value) \
    {                                                     \
        m_walker.Kind(value.Get());                       \
    }
    POR_SCALAR_KINDS(POR_WALK_SCALAR)
#undef POR_WALK_SCALAR
#define POR_WALK_COMPLEX(Kind, Type)                       \
    void operator()(const View::ComplexValue<Type>& value) \
    {                                                      \
        m_walker.Kind(value.Get());                        \
    }
    POR_COMPLEX_KINDS(POR_WALK_COMPLEX)
#undef POR_WALK_COMPLEX

    void operator()(const View::ArrayValue& value)
    {
        m_walker.Array(value);
        if (!m_descend)
            return;
        auto elements = ProcessorOf<const View::Unit>([this](const View::Unit& element) {
            WalkHierarchy(element, m_guide, m_walker);
            return false;
        });
        value.ForEach(elements);
    }

    void operator()(const View::CompositeValue& value)
    {
        m_walker.Composite(value);
        if (!m_descend)
            return;
        auto properties = ProcessorOf<const View::Property>([this](const View::Property& property) {
            m_walker.Property(property.GetName());
            WalkHierarchy(property.GetValue(), m_guide, m_walker);
            return false;
        });
        value.ForEach(properties);
    }

private:
    TraitValueGuide& m_guide;
    UnitWalker& m_walker;
    bool m_descend;
};

class HierarchyWalkerCrossroad final : public TraitValueCrossroad
{
public:
    HierarchyWalkerCrossroad(TraitValueGuide& guide, UnitWalker& walker, const View::Unit& unit) noexcept
        : m_guide(guide), m_walker(walker), m_unit(unit)
    {
    }

    void WalkValue(bool descend) override
    {
        HierarchyWalker walker(m_guide, m_walker, descend);
        View::Detail::UnitVisitorAdaptor<HierarchyWalker> adaptor(&walker);
        m_unit.Accept(adaptor);
    }

    void WalkTraits() override
    {
        auto traits = ProcessorOf<const View::Trait>([this](const View::Trait& trait) {
            m_walker.Trait(trait.GetName());
            WalkHierarchy(trait.GetValue(), m_guide, m_walker);
            return false;
        });
        m_unit.traits().ForEach(traits);
    }

private:
    TraitValueGuide& m_guide;
    UnitWalker& m_walker;
    const View::Unit& m_unit;
};

} // namespace

void WalkHierarchy(const View::Unit& unit, TraitValueGuide& guide, UnitWalker& walker)
{
    walker.BeginUnit();
    WalkHierarchyContent(unit, guide, walker);
    walker.EndUnit();
}

void WalkHierarchyContent(const View::Unit& unit, TraitValueGuide& guide, UnitWalker& walker)
{
    HierarchyWalkerCrossroad crossroad(guide, walker, unit);
    guide.Guide(crossroad);
}

} // namespace Por::Util

namespace Por {

namespace {

// Delivers the units of one level of the tree per pass.
class UnitShuttle
{
public:
    explicit UnitShuttle(ItemProcessor<const View::Unit>& client) noexcept : m_client(client) {}

    // True when the client has answered true.
    bool Step(const View::Unit& unit)
    {
        if (m_depth < m_level) {
            ++m_depth;
            Descend(unit);
            --m_depth;
            return m_stopped;
        }
        m_stopped = m_client.Process(unit);
        if (!m_deeper)
            m_deeper = HasChildren(unit);
        return m_stopped;
    }

    bool NextLevel()
    {
        if (m_stopped || !m_deeper)
            return false;
        ++m_level;
        m_deeper = false;
        return true;
    }

private:
    struct Container : View::NullVisitor
    {
        using NullVisitor::Visit;
        void Visit(const View::ArrayValue& value) override { array = &value; }
        void Visit(const View::CompositeValue& value) override { composite = &value; }
        const View::ArrayValue* array = nullptr;
        const View::CompositeValue* composite = nullptr;
    };

    static bool HasChildren(const View::Unit& unit)
    {
        Container container;
        unit.Accept(container);
        return container.array || container.composite;
    }

    void Descend(const View::Unit& unit)
    {
        Container container;
        unit.Accept(container);
        if (container.array) {
            auto elements = ProcessorOf<const View::Unit>([this](const View::Unit& element) { return Step(element); });
            container.array->ForEach(elements);
        } else if (container.composite) {
            auto properties = ProcessorOf<const View::Property>(
                [this](const View::Property& property) { return Step(property.GetValue()); });
            container.composite->ForEach(properties);
        }
    }

    ItemProcessor<const View::Unit>& m_client;
    unsigned m_level = 0;
    unsigned m_depth = 0;
    bool m_deeper = false;
    bool m_stopped = false;
};

} // namespace

void ForEachUnitByLevel(const View::Unit& unit, ItemProcessor<const View::Unit>& processor)
{
    UnitShuttle shuttle(processor);
    do {
        shuttle.Step(unit);
    } while (shuttle.NextLevel());
}

} // namespace Por
