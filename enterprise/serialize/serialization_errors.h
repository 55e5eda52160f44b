// Error codes of XML serialization (facility 0x9C) and the catalogue keys of
// their messages.
//
// Threading: constant data.
#pragma once

namespace SerializationErrors {

// The element asked for is missing, or the caller's descriptor does not match
// the element being left.
inline constexpr unsigned kInconsistentMeta = 0x9C0002;
// No element is open: the packet did not load, or the root was left.
inline constexpr unsigned kNoMeta = 0x9C0003;
// No element to read a value from, or its text is not valid Base64.
inline constexpr unsigned kNoData = 0x9C0004;
// A value too large for the packet format.
inline constexpr unsigned kValueTooLarge = 0x9C0005;

// Catalogue keys of the messages.
inline constexpr unsigned kInconsistentMetaText = 642; // "Cannot deserialize the object. The object's metadata is ..."
inline constexpr unsigned kNoMetaText = 624;           // "Cannot find the object's meta info."
inline constexpr unsigned kValueTooLargeText = 660;    // "The value is too large to be written into a packet."
// kNoData carries this 8-bit text, which is not a catalogue message.
inline constexpr const char* kNoDataNarrowText = "SERIALIZER_ERROR_NO_DATA";

} // namespace SerializationErrors
