// The client side of the remote interface "ObjectManager" (component 274,
// interface version 1): one request builder per method and the interface's
// component-information record, registered at start-up. The methods, their
// indexes and parameter names are the rows of Dml::Methods::ObjectManager
// (method_tables.h).
//
// Every parameter is a unit passed by value with transfer flag 0: written with
// the call, and its element in the reply (if any) read and dropped. A builder
// returns a new request owned by the caller, or none when building failed
// with a Common::Error (traced at level 1).
//
// Threading: builders may be called from any thread; the record is immutable.
#pragma once

#include <memory>

#include "core/common/component_info.h"
#include "enterprise/common/por/unit.h"
#include "platform/ipc/request.h"

namespace Dml {

std::unique_ptr<Binding::Request> MakeRegisterObjectRequest(std::shared_ptr<const Por::View::Unit> object);
std::unique_ptr<Binding::Request> MakeUpdateObjectRequest(std::shared_ptr<const Por::View::Unit> objectId,
                                                          std::shared_ptr<const Por::View::Unit> patch);
std::unique_ptr<Binding::Request> MakeUnregisterObjectRequest(std::shared_ptr<const Por::View::Unit> objectId);

} // namespace Dml

// The one record of "ObjectManager".
Core::ComponentInfo& GetObjectManagerComponentInfo();
