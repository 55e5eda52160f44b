// Por::FindMapElement: the child of a unit by a name. In a Composite it is the
// value of the property of that name; in a map (an Array of Composites whose
// property "first" holds the key as a String and "second" the value) it is the
// "second" of the first entry whose "first" equals the name (compared as UTF-8
// up to the first NUL; a "first" that is not a String counts as the empty
// text). The first matching entry ends the search, with or without a
// "second". Anything else gives null; the lookup raises nothing of its own.
//
// Threading: the caller's thread.
#pragma once

#include "enterprise/common/por/unit.h"

namespace Por {

const View::Unit* FindMapElement(const View::Unit* unit, const Name& key);
Construction::Unit* FindMapElement(Construction::Unit* unit, const Name& key);

} // namespace Por
