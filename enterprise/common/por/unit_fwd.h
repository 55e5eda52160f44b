// Forward declarations of the unit interfaces, for headers that only pass
// them by reference.
//
// Threading: declarations only.
#pragma once

namespace Por {

class Name;
template <typename T>
class ItemProcessor;
template <typename T>
class PropertyIterator;

namespace View {
class Unit;
class Property;
class Trait;
class Traits;
class UnitReader;
class NilValue;
template <typename T>
class ScalarValue;
template <typename T>
class ComplexValue;
class ArrayValue;
class CompositeValue;
} // namespace View

namespace Modification {
class Unit;
class Property;
class Traits;
class UnitWriter;
class NilValue;
template <typename T>
class ScalarValue;
template <typename T>
class ComplexValue;
class ArrayValue;
class CompositeValue;
} // namespace Modification

namespace Construction {
class Unit;
class Property;
class Traits;
class UnitBuilder;
class UnitFactory;
class NilValue;
template <typename T>
class ScalarValue;
template <typename T>
class ComplexValue;
class ArrayValue;
class CompositeValue;
} // namespace Construction

} // namespace Por
