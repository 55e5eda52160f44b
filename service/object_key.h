// How the service identifies objects: the key inside an object, the key
// pattern of a view, and the stored form of a key.
//
// An object's key is the first unit marked "PrimaryKey", searched level by
// level from the object itself (a Nil marker makes the marked unit the key, a
// marker of another kind is the key itself); an object without one gives
// 0xFC000A "DML: Object identification cannot be found.". Keys compare by
// value with their own top-level traits ignored, so the stored form of a key
// is the binary unit form of its value without those traits: the key a client
// sends with "UpdateObject", the key inside the object and the value of a key
// pattern store alike. A key pattern is recognised by its "ObjectID" trait,
// which every key pattern carries and no matcher operator uses.
//
// Threading: pure functions of their inputs.
#pragma once

#include <vector>

#include "enterprise/common/por/unit.h"
#include "platform/ipc/bytes.h"

namespace Service {

// The key inside `object` (refers into it); throws 0xFC000A when none.
const Por::View::Unit& FindObjectKey(const Por::View::Unit& object);

// The stored form of a key.
Ipc::Bytes MakeKeyBytes(const Por::View::Unit& key);

// True for a pattern that names one object by its key.
bool IsKeyPattern(const Por::View::Unit& pattern);

} // namespace Service
