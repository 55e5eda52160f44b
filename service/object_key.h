// How the service identifies objects: the stored form of a key. The key
// inside an object is the DML layer's (Dml::GetObjectKey), and so is the key
// pattern of a view (Dml::IsKeyPattern). Keys compare by value with their own
// top-level traits ignored, so the stored form of a key is the binary unit
// form of its value without those traits: the key a client sends with
// "UpdateObject", the key inside the object and the value of a key pattern
// store alike.
//
// Threading: pure functions of their inputs.
#pragma once

#include <vector>

#include "enterprise/common/por/unit.h"
#include "platform/ipc/bytes.h"

namespace Service {

// The stored form of a key.
Ipc::Bytes MakeKeyBytes(const Por::View::Unit& key);

} // namespace Service
