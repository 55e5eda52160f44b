// The objects of one service code that a view pattern selects, read inside a
// store transaction.
//
// A key pattern (Dml::IsKeyPattern) selects the one object whose key equals the
// pattern's value, looked up directly; any other pattern is evaluated by the
// matcher against every stored object, in registration order. Objects are
// read from their stored binary unit form; a stored form that does not read
// back is the store's failure (kStoreFailed), and a matcher's error ends the
// selection with that error. A match depends on the object and the pattern
// only.
//
// Most objects a view meets do not match, and reading a unit costs far more
// than looking at its bytes: where the pattern asks for plain values (a
// Composite without traits whose property holds a value without traits of a
// kind compared by its bytes: Boolean, the integers, Blob, Guid, String;
// nested such Composites alike), the stored form of every object it selects
// holds each such property as the form writes it ("P", the name, "U", the
// value), and an object whose form lacks one of the first 16 is passed over
// unread.
//
// Threading: one selection is used on one thread, inside one transaction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/common/error.h"
#include "enterprise/common/por/unit.h"
#include "service/store.h"

namespace Service {

struct SelectedObject
{
    Ipc::Bytes key; // stored form
    std::shared_ptr<const Por::View::Unit> unit;
};

class Selection
{
public:
    explicit Selection(const Por::View::Unit& pattern);

    // The selected objects in registration order, at most `limit`, appended.
    Common::Error List(Transaction& objects, int32_t serviceCode, size_t limit,
                       std::vector<SelectedObject>& selected) const;
    // Where the objects List selects lie, in the same order, appended; none of
    // them is held, so that their memory can be known before they are read.
    Common::Error Locate(Transaction& objects, int32_t serviceCode, size_t limit,
                         std::vector<ObjectPlace>& places) const;
    // The object at a place Locate gave in the same transaction.
    Common::Error ReadAt(Transaction& objects, int32_t serviceCode, const ObjectPlace& place,
                         SelectedObject& object) const;
    // The number of all selected objects.
    Common::Error Count(Transaction& objects, int32_t serviceCode, uint64_t& count) const;
    // Removes the first `limit` selected objects in registration order (in a
    // write transaction); `removed` receives their number. Removals by one
    // pattern one after the other do not read again what the earlier ones
    // passed (Transaction::RemoveSelected, the pattern's binary form naming
    // the filter).
    Common::Error Remove(Transaction& objects, int32_t serviceCode, size_t limit, size_t& removed) const;

private:
    // Decides one stored body; `unit` receives the object read from it.
    Common::Error Decide(Ipc::ByteView body, bool& selected, std::shared_ptr<const Por::View::Unit>& unit) const;

    // False when the body lacks one of the required forms.
    bool MayMatch(Ipc::ByteView body) const;

    const Por::View::Unit& m_pattern;
    bool m_byKey;
    Ipc::Bytes m_key;                        // stored form, for a key pattern
    std::vector<Ipc::Bytes> m_requiredForms; // in the stored form of every selected object
};

// The unit of a stored body; kStoreFailed when the bytes do not read back.
Common::Error ReadStoredUnit(Ipc::ByteView body, std::shared_ptr<const Por::View::Unit>& unit);

} // namespace Service
