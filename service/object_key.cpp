#include "service/object_key.h"

#include "enterprise/common/por/blob_walking_route.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/unit_copier.h"

namespace Service {

Ipc::Bytes MakeKeyBytes(const Por::View::Unit& key)
{
    Ipc::Bytes bytes;
    Por::Util::WriteBinaryUnit(*Por::Util::CopyUnitValue(key, *Por::Construction::GetDefaultUnitFactory()), bytes);
    return bytes;
}

} // namespace Service
