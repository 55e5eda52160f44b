#include "service/object_selection.h"

#include <string.h>

#include <utility>

#include "core/common/location.h"
#include "enterprise/common/dml/object_key.h"
#include "enterprise/common/por/blob_walking_route.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/item_processor.h"
#include "enterprise/common/por/trait_pairing.h"
#include "enterprise/common/por/unit_match.h"
#include "enterprise/common/por/utils.h"
#include "enterprise/common/por/value_type_index.h"
#include "service/object_key.h"
#include "service/store_errors.h"

namespace Service {

namespace {

constexpr Common::SourceFile kSource("service/object_selection");

// Kinds whose values are equal exactly when their items in the binary form
// are (a Double has two zeros; Nil, Error, Array and Composite are left out).
bool ComparedByItsBytes(const Por::View::Unit& value)
{
    switch (static_cast<Por::ValueKind>(Por::Util::GetValueTypeIndex(value))) {
    case Por::ValueKind::Boolean:
    case Por::ValueKind::Byte:
    case Por::ValueKind::SByte:
    case Por::ValueKind::Word:
    case Por::ValueKind::SWord:
    case Por::ValueKind::DWord:
    case Por::ValueKind::SDWord:
    case Por::ValueKind::QWord:
    case Por::ValueKind::SQWord:
    case Por::ValueKind::Blob:
    case Por::ValueKind::Guid:
    case Por::ValueKind::String:
        return true;
    default:
        return false;
    }
}

// A few are enough to pass most objects over; a pattern of many properties
// costs no more than that to prepare.
constexpr size_t kMaxRequiredForms = 16;

// The form of each plain-valued property the pattern asks for (see the
// header), up to kMaxRequiredForms: the form of {name: value} is "U", "C",
// the property, "E" (the value's end) and "E"; the property without its
// value's end is what an equal namesake starts with, whatever traits follow
// its value.
void CollectRequiredForms(const Por::View::Unit& pattern, std::vector<Ipc::Bytes>& forms)
{
    if (!Por::Util::IsComposite(pattern) || Por::Util::HasTraits(pattern) || forms.size() >= kMaxRequiredForms)
        return;
    const Por::Construction::UnitFactory& factory = *Por::Construction::GetDefaultUnitFactory();
    auto collect = Por::ProcessorOf<const Por::View::Property>([&](const Por::View::Property& property) {
        const Por::View::Unit& value = property.GetValue();
        if (Por::Util::HasTraits(value))
            return false;
        if (Por::Util::IsComposite(value)) {
            CollectRequiredForms(value, forms);
            return forms.size() >= kMaxRequiredForms;
        }
        if (!ComparedByItsBytes(value))
            return false;
        std::unique_ptr<Por::Construction::Unit> holder = factory.CreateComposite();
        Por::Util::AddPropertyCopy(*holder, property.GetName(), value, factory);
        Ipc::Bytes form;
        Por::Util::WriteBinaryUnit(*holder, form);
        if (form.size() > 4 && form[0] == 'U' && form[1] == 'C' && form[form.size() - 2] == 'E' && form.back() == 'E')
            forms.emplace_back(form.begin() + 2, form.end() - 2);
        return forms.size() >= kMaxRequiredForms;
    });
    Por::Util::ForEachProperty(pattern, collect);
}

// The unit of a stored form held whole.
Common::Error ReadFormUnit(const Ipc::Bytes& form, std::shared_ptr<const Por::View::Unit>& unit)
{
    try {
        std::unique_ptr<Por::Construction::Unit> read = Por::Util::ReadBinaryUnit(
            form, *Por::Construction::GetDefaultUnitFactory());
        if (!read)
            return MakeStoreFailure("a stored object is empty", kSource.At("ReadStoredUnit", __LINE__));
        unit = std::move(read);
        return Common::Success;
    } catch (const Common::Error& error) {
        Common::Error failure = MakeStoreFailure("a stored object cannot be read",
                                                 kSource.At("ReadStoredUnit", __LINE__));
        failure.AddCause(error);
        return failure;
    }
}

} // namespace

Common::Error ReadStoredUnit(Ipc::ByteView body, std::shared_ptr<const Por::View::Unit>& unit)
{
    return ReadFormUnit(Ipc::Bytes(body.begin(), body.end()), unit);
}

Selection::Selection(const Por::View::Unit& pattern) : m_pattern(pattern), m_byKey(Dml::IsKeyPattern(pattern))
{
    if (m_byKey)
        m_key = MakeKeyBytes(pattern);
    else
        CollectRequiredForms(pattern, m_requiredForms);
}

bool Selection::MayMatch(Ipc::ByteView body) const
{
    for (const Ipc::Bytes& form : m_requiredForms) {
        if (!memmem(body.data(), body.size(), form.data(), form.size()))
            return false;
    }
    return true;
}

Common::Error Selection::Decide(Ipc::ByteView body, bool& selected, std::shared_ptr<const Por::View::Unit>& unit) const
{
    if (!MayMatch(body)) {
        selected = false;
        return Common::Success;
    }
    Common::Error error = ReadStoredUnit(body, unit);
    if (!error.IsSuccess())
        return error;
    try {
        selected = Por::MatchUnit(*unit, m_pattern);
        return Common::Success;
    } catch (const Common::Error& thrown) {
        return thrown;
    }
}

Common::Error Selection::List(Transaction& objects, int32_t serviceCode, size_t limit,
                              std::vector<SelectedObject>& selected) const
{
    std::vector<ObjectPlace> places;
    Common::Error error = Locate(objects, serviceCode, limit, places);
    for (size_t i = 0; error.IsSuccess() && i < places.size(); ++i) {
        SelectedObject object;
        error = ReadAt(objects, serviceCode, places[i], object);
        if (error.IsSuccess())
            selected.push_back(std::move(object));
    }
    return error;
}

Common::Error Selection::Locate(Transaction& objects, int32_t serviceCode, size_t limit,
                                std::vector<ObjectPlace>& places) const
{
    if (limit == 0)
        return Common::Success;
    if (m_byKey) {
        bool found = false;
        StoredObject object;
        Common::Error error = objects.Get(serviceCode, m_key, found, object);
        if (error.IsSuccess() && found)
            places.push_back(ObjectPlace{object.order, object.body.size()});
        return error;
    }
    // Each unit is read to decide and let go at once: the selected ones are
    // read again where they are needed.
    const BodyFilter filter = [&](Ipc::ByteView body, bool& take) {
        std::shared_ptr<const Por::View::Unit> unit;
        return Decide(body, take, unit);
    };
    return objects.ListPlaces(serviceCode, filter, limit, places);
}

Common::Error Selection::ReadAt(Transaction& objects, int32_t serviceCode, const ObjectPlace& place,
                                SelectedObject& object) const
{
    bool found = false;
    StoredObject stored;
    Common::Error error = objects.GetAt(serviceCode, place.order, found, stored);
    if (!error.IsSuccess())
        return error;
    if (!found) // the transaction that located it sees it still: a place from elsewhere
        return MakeStoreFailure("a located object is not in the store", kSource.At("ReadAt", __LINE__));
    object.key = std::move(stored.key);
    return ReadFormUnit(stored.body, object.unit);
}

Common::Error Selection::Remove(Transaction& objects, int32_t serviceCode, size_t limit, size_t& removed) const
{
    removed = 0;
    if (limit == 0)
        return Common::Success;
    if (m_byKey) {
        bool found = false;
        StoredObject object;
        Common::Error error = objects.Get(serviceCode, m_key, found, object);
        if (!error.IsSuccess() || !found)
            return error;
        error = objects.Remove(serviceCode, m_key);
        removed = error.IsSuccess() ? 1 : 0;
        return error;
    }
    Ipc::Bytes name;
    Por::Util::WriteBinaryUnit(m_pattern, name);
    const BodyFilter filter = [&](Ipc::ByteView body, bool& take) {
        std::shared_ptr<const Por::View::Unit> unit;
        return Decide(body, take, unit);
    };
    return objects.RemoveSelected(serviceCode, filter, name, limit, removed);
}

Common::Error Selection::Count(Transaction& objects, int32_t serviceCode, uint64_t& count) const
{
    count = 0;
    if (m_byKey) {
        bool found = false;
        StoredObject object;
        Common::Error error = objects.Get(serviceCode, m_key, found, object);
        count = found ? 1 : 0;
        return error;
    }
    const BodyFilter filter = [&](Ipc::ByteView body, bool& take) {
        std::shared_ptr<const Por::View::Unit> unit;
        return Decide(body, take, unit);
    };
    return objects.Count(serviceCode, filter, count);
}

} // namespace Service
