// The out-of-line virtual operation of Common::Error: its definition here makes
// this library the one home of the class's virtual table and type information.

#include "platform/objrep/common_error.h"

namespace Common {

void Error::DummyVirtualMethod()
{
}

} // namespace Common
