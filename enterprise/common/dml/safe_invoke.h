// Safe invocation of callbacks: a Common::Error thrown by a reader or a
// completion handler called from inside the DML layer never reaches the
// caller's machinery. It is chained under 0xFC0001 "Exception from callback."
// and traced at level 1, and the caller carries on as if the callback had
// returned normally. Other exceptions pass through unchanged.
//
// The delivery loops apply that rule to each element, in vector order, and
// skip what they could only dereference as null: a null unit of a snapshot, an
// update without the Key (or, for type 1, the PackedUpdate) it needs. Updates
// of a type other than 0, 1 and 2 are skipped as well.
//
// Threading: no state; runs on the delivering thread.
#pragma once

#include <memory>
#include <vector>

#include "enterprise/common/dml/service_interfaces.h"
#include "platform/objrep/common_error.h"
#include "xidl/view_management.h"

namespace Dml {

// A new 0xFC0001 "Exception from callback." at safe_invoke "GetBaseError" 28.
Common::Error GetBaseError();
// Chains `escaped` under the base error and traces the result; never throws.
void HandleCallbackException(const Common::Error& escaped) noexcept;

void DeliverSnapshot(const std::vector<std::shared_ptr<const Por::View::Unit>>& snapshot, ReportReader& reader);
void DeliverUpdates(const std::vector<ViewManagement::ViewUpdate>& updates, UpdateReader& reader);

} // namespace Dml
