// The source identity that the errors of the subscription half carry (the
// update cache and the subscription dispatcher), with its published base.
//
// Threading: constant data.
#pragma once

#include "core/common/location.h"

namespace Dml::Client {

inline constexpr Common::SourceFile kRemoteSubscriptionSource("enterprise/common/dml/client/remote_subscription",
                                                              0x50ebb31abae51f4full - 280);

} // namespace Dml::Client
