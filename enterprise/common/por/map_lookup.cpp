#include "enterprise/common/por/map_lookup.h"

#include <cstring>
#include <string>

#include "core/common/text_conversion.h"
#include "enterprise/common/por/typed_access.h"

namespace Por {

namespace {

// Whether the String value of `property` (the empty text for other kinds),
// up to its first NUL, is `key`'s text.
bool KeyMatches(const View::Property& property, const Name& key)
{
    static const std::u16string kNoText;
    const std::u16string& text = Util::GetUnitValue<std::u16string>(property.GetValue(), kNoText);
    std::string utf8;
    (void)Common::ConvertUtf16ToUtf8(utf8, text.c_str(), text.size()); // stops at the first NUL; always succeeds
    return std::strcmp(utf8.c_str(), key.GetText()) == 0;
}

// The level's unit, property, composite and array types.
template <typename UnitT, typename PropertyT, typename CompositeT, typename ArrayT, typename NullVisitorT>
class MapElementFinder : public NullVisitorT
{
public:
    explicit MapElementFinder(const Name& key) noexcept : m_key(key) {}

    using NullVisitorT::Visit;
    void Visit(CompositeT& composite) override
    {
        auto observer = ProcessorOf<PropertyT>([this](PropertyT& property) { return Store(property); });
        (void)composite.ForEachNamed(m_key, observer); // the observer keeps what it found
    }
    void Visit(ArrayT& array) override
    {
        auto items = ProcessorOf<UnitT>([this](UnitT& element) { return Entry(element); });
        array.ForEach(items);
    }

    UnitT* Result() const { return m_result; }

private:
    bool Store(PropertyT& property)
    {
        m_result = &property.GetValue();
        return true;
    }

    // One map entry: true when its "first" matched.
    bool Entry(UnitT& element)
    {
        struct KeyValueAccessor : NullVisitorT
        {
            KeyValueAccessor(MapElementFinder& finder) : finder(finder) {}
            using NullVisitorT::Visit;
            void Visit(CompositeT& entry) override
            {
                auto first = ProcessorOf<PropertyT>([this](PropertyT& property) {
                    matched = KeyMatches(property, finder.m_key);
                    return matched;
                });
                (void)entry.ForEachNamed("first", first); // `matched` tells
                if (!matched)
                    return;
                auto second = ProcessorOf<PropertyT>([this](PropertyT& property) { return finder.Store(property); });
                (void)entry.ForEachNamed("second", second); // a missing "second" leaves no result
            }
            MapElementFinder& finder;
            bool matched = false;
        } accessor(*this);
        element.Accept(accessor);
        return accessor.matched;
    }

    const Name& m_key;
    UnitT* m_result = nullptr;
};

} // namespace

const View::Unit* FindMapElement(const View::Unit* unit, const Name& key)
{
    if (!unit)
        return nullptr;
    MapElementFinder<const View::Unit, const View::Property, const View::CompositeValue, const View::ArrayValue,
                     View::NullVisitor>
        finder(key);
    unit->Accept(finder);
    return finder.Result();
}

Construction::Unit* FindMapElement(Construction::Unit* unit, const Name& key)
{
    if (!unit)
        return nullptr;
    MapElementFinder<Construction::Unit, Construction::Property, Construction::CompositeValue, Construction::ArrayValue,
                     Construction::NullVisitor>
        finder(key);
    unit->Accept(finder);
    return finder.Result();
}

} // namespace Por
