// Error codes of the async job framework (facility 0xF9) and the catalogue
// keys of their messages.
//
// Threading: constant data.
#pragma once

namespace Async {

inline constexpr unsigned ASYNC_ERROR_RESULT_INVALID = 0xF90001;
inline constexpr unsigned ASYNC_ERROR_CANCELED = 0xF90002;
inline constexpr unsigned ASYNC_ERROR_STEPS_STOPPED = 0xF90003;
inline constexpr unsigned ASYNC_ERROR_JOB_CONTEXT = 0xF90004;
inline constexpr unsigned ASYNC_ERROR_ASYNCHRONIZER_CLOSED = 0xF90005;
inline constexpr unsigned ASYNC_ERROR_OPERATION_EXCEPTION = 0xF90006;
inline constexpr unsigned ASYNC_ERROR_OPERATION_STD_EXCEPTION = 0xF90007;
inline constexpr unsigned ASYNC_ERROR_OPERATION_UNKNOWN_EXCEPTION = 0xF90008;
inline constexpr unsigned ASYNC_ERROR_RESERVED_0A = 0xF9000A;
inline constexpr unsigned ASYNC_ERROR_WORK_EXCEPTION = 0xF9000B;
inline constexpr unsigned ASYNC_ERROR_SEQUENCE_STOP = 0xF9000E;
inline constexpr unsigned ASYNC_ERROR_CYCLE_BREAK = 0xF9000F;
inline constexpr unsigned ASYNC_ERROR_NULL_FINISH_HANDLER = 0xF90015;

// Catalogue keys of the messages.
inline constexpr unsigned kUnidentifiedJobText = 61;       // "ASYNC: Unidentified job."
inline constexpr unsigned kAsynchronizerClosedText = 120;  // "ASYNC: Asynchronizer cannot accept more actions ..."
inline constexpr unsigned kOperationExceptionText = 123;   // "ASYNC: Exception has occurred during operation '{0}'."
inline constexpr unsigned kFinalizeRunOperationText = 124; // "Finalize run"
inline constexpr unsigned kPerformOperationText = 125;     // "Perform"
inline constexpr unsigned kOperationStdExceptionText =
    126; // "ASYNC: STD exception '{1}' has occurred during operation '{0}'."
inline constexpr unsigned kOperationUnknownExceptionText =
    127;                                            // "ASYNC: Unknown exception has occurred during operation '{0}'."
inline constexpr unsigned kCanceledText = 133;      // "ASYNC: The operation has been canceled."
inline constexpr unsigned kResultInvalidText = 134; // "ASYNC: The operation result is invalid."
inline constexpr unsigned kWorkExceptionText = 139; // "ASYNC: Exception has occurred during work execution."
inline constexpr unsigned kWorkStdExceptionText =
    140; // "ASYNC: STD exception '{0}' has occurred during work execution."
inline constexpr unsigned kWorkUnknownExceptionText =
    141; // "ASYNC: Unknown exception has occurred during work execution."

} // namespace Async
