// The error locations of the tool: every file of the tool raises under the
// source identity of its main file, with the published lines below.
//
// Threading: constant data.
#pragma once

#include "core/common/location.h"

namespace Objpatcher {

inline constexpr Common::SourceFile kMainSource("enterprise/common/dml/tools/objpatcher/main", 0x6f7744b1cdc5bbdbull);

inline constexpr Common::Location kGetViewSpecLocation = kMainSource.At("GetViewSpec", 253);
inline constexpr Common::Location kGetUpdateProcessorLocation = kMainSource.At("GetUpdateProcessor", 273);
inline constexpr Common::Location kSecurityLocation = kMainSource.At("main", 289);
inline constexpr Common::Location kCreateLocation = kMainSource.At("main", 310);
inline constexpr Common::Location kUpdateLocation = kMainSource.At("main", 316);
inline constexpr Common::Location kDeleteLocation = kMainSource.At("main", 321);
inline constexpr Common::Location kUnknownCommandLocation = kMainSource.At("main", 326);

} // namespace Objpatcher
