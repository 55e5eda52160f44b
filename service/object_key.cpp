#include "service/object_key.h"

#include "enterprise/common/por/blob_walking_route.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/unit_copier.h"
#include "enterprise/common/por/utils.h"

namespace Service {

namespace {

const Por::Name kObjectId("ObjectID");

} // namespace

Ipc::Bytes MakeKeyBytes(const Por::View::Unit& key)
{
    Ipc::Bytes bytes;
    Por::Util::WriteBinaryUnit(*Por::Util::CopyUnitValue(key, *Por::Construction::GetDefaultUnitFactory()), bytes);
    return bytes;
}

bool IsKeyPattern(const Por::View::Unit& pattern)
{
    return Por::Util::HasTrait(pattern, kObjectId);
}

} // namespace Service
