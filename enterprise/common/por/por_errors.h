// Error codes of the object model (facility 0xFA) and the catalogue keys of
// their messages.
//
// Threading: constant data.
#pragma once

namespace PorErrors {

inline constexpr unsigned kFacility = 0xFA;

inline constexpr unsigned kGeneral = 0xFA0001;          // paths, plain objects, internal failures
inline constexpr unsigned kTypeMismatch = 0xFA000A;     // a unit of another kind than expected
inline constexpr unsigned kNullUnit = 0xFA000B;         // a null owned unit, trait or property
inline constexpr unsigned kPropertyNotFound = 0xFA000D; // a property that must exist does not
inline constexpr unsigned kPattern = 0xFA000E;          // a pattern that cannot be applied
inline constexpr unsigned kOutOfRange = 0xFA000F;       // an array index outside the array
inline constexpr unsigned kDifferentProperties = 0xFA0010;
inline constexpr unsigned kDifferentTypes = 0xFA0011;
inline constexpr unsigned kDifferentTraits = 0xFA0012;
inline constexpr unsigned kArrayElementNotFound = 0xFA0016;
inline constexpr unsigned kBranchNotFound = 0xFA001B;
inline constexpr unsigned kTraitNotUnique = 0xFA001C;
inline constexpr unsigned kTraitNotFound = 0xFA001D;
inline constexpr unsigned kEmptyUnitHolder = 0xFA001F;
inline constexpr unsigned kElementNotFound = 0xFA0020;
inline constexpr unsigned kCorruptedUnit = 0xFA0021;

// Catalogue keys of the messages.
inline constexpr unsigned kArrayElementNotFoundText = 317; // "POR: The array element cannot be found."
inline constexpr unsigned kBranchNotFoundText = 320;       // "POR: Branch '{0}' cannot be found."
inline constexpr unsigned kDifferentPropertiesText = 321;  // "POR: Cannot assign units with different properties."
inline constexpr unsigned kDifferentTraitsText = 322;      // "POR: Cannot assign units with different traits."
inline constexpr unsigned kDifferentTypesText = 323;       // "POR: Cannot assign units of different types."
inline constexpr unsigned kElementNotFoundText = 334;      // "POR: Element '{0}' cannot be found."
inline constexpr unsigned kInternalErrorText = 337;        // "POR: An internal error has occurred."
inline constexpr unsigned kUninitializedObjectText =
    344;                                               // "POR: There was an attempt to access an uninitialized object."
inline constexpr unsigned kNullUnitText = 346;         // "POR: Null units are forbidden."
inline constexpr unsigned kOutOfRangeText = 347;       // "POR: Out of range."
inline constexpr unsigned kPropertyNotFoundText = 348; // "POR: Property '{0}' cannot be found."
inline constexpr unsigned kPropertyProcessingText = 349; // "POR: Property '{0}' processing error has occurred."
inline constexpr unsigned kTraitNotFoundText = 354;      // "POR: Trait '{0}' cannot be found."
inline constexpr unsigned kTraitNotUniqueText = 355;     // "POR: Trait '{0}' is not unique."
inline constexpr unsigned kCorruptedUnitText = 361;      // "POR: Unit object '{0}' is corrupted at position '{1}'."
inline constexpr unsigned kPathAccessText = 362;         // "POR: Cannot access property by path '{0}'."
inline constexpr unsigned kPathEmptyTokenText = 364;     // "POR: Unit path '{0}' contains an empty token."
inline constexpr unsigned kPathTrailingSeparatorText =
    365;                                           // "POR: There is an invalid separator at the end of path '{0}'."
inline constexpr unsigned kPathBadStartText = 366; // "POR: Beginning of unit path '{0}' contains an incorrect symbol."
inline constexpr unsigned kStructureMismatchText = 368; // "POR: Object internal structure mismatch."
inline constexpr unsigned kPropertyTypeMismatchText =
    369;                                           // "... object property '{0}'. Expected property type is '{1}', ..."
inline constexpr unsigned kTypeMismatchText = 370; // "... Expected object type is '{0}', actual object type is '{1}'."
inline constexpr unsigned kRangeInclusionText = 625; // "POR: Failed to check range inclusion."
inline constexpr unsigned kPatternNotRegisteredText =
    626; // "POR: Name '{0}' of the trait is not registered for pattern."

} // namespace PorErrors
