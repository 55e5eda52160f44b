// Error codes of the DML layer (facility 0xFC) and the catalogue keys of their
// messages.
//
// Threading: constant data.
#pragma once

namespace Dml {

inline constexpr unsigned DML_ERROR_CALLBACK = 0xFC0001;      // a callback failed (texts are literals)
inline constexpr unsigned DML_ERROR_NO_OBJECT_KEY = 0xFC000A; // no "PrimaryKey" in an object
inline constexpr unsigned DML_ERROR_IMPROPER_USE = 0xFC0031;  // a service of a holder is missing
// Raised by the DML client.
inline constexpr unsigned DML_ERROR_VIEW_CLOSING = 0xFC000B;    // a subscription is being closed
inline constexpr unsigned DML_ERROR_ALREADY_RUNNING = 0xFC000C; // a second read of a topic while one waits
inline constexpr unsigned DML_ERROR_DISPOSED = 0xFC0017;        // a client service made without an access point
inline constexpr unsigned DML_ERROR_NO_SUBSCRIBER = 0xFC0032;   // "Subscribe" answered without a subscriber ID

// Catalogue keys of the messages.
inline constexpr unsigned kProcessObjectByIdJobText = 69; // "DML process object by ID job."
inline constexpr unsigned kNoObjectKeyText = 237;         // "DML: Object identification cannot be found."
inline constexpr unsigned kImproperUseText = 267;         // "DML: Unproper use. Missing {0}."
inline constexpr unsigned kDisposedText = 213;            // "DML: Cannot access a disposed object."
// "DML: The operation is not permitted because the view is being closed."
inline constexpr unsigned kViewClosingText = 632;
// "DML: The operation is already running."
inline constexpr unsigned kAlreadyRunningText = 633;
// "DML: The service answered the subscription without a subscriber ID."
inline constexpr unsigned kNoSubscriberText = 639;
// "DML: Another channel already reads this topic."
inline constexpr unsigned kTopicTakenText = 640;

} // namespace Dml
