#include "service/object_key.h"

#include "core/common/location.h"
#include "core/common/message_catalogue.h"
#include "enterprise/common/por/blob_walking_route.h"
#include "enterprise/common/por/hierarchy_walk.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/unit_copier.h"
#include "enterprise/common/por/utils.h"
#include "enterprise/common/por/value_type_index.h"
#include "service/service_errors.h"

namespace Service {

namespace {

constexpr Common::SourceFile kSource("service/object_key");

const Por::Name kPrimaryKey("PrimaryKey");
const Por::Name kObjectId("ObjectID");

} // namespace

const Por::View::Unit& FindObjectKey(const Por::View::Unit& object)
{
    const Por::View::Unit* key = nullptr;
    auto perUnit = Por::ProcessorOf<const Por::View::Unit>([&key](const Por::View::Unit& unit) {
        auto firstMarker = Por::ProcessorOf<const Por::View::Trait>([&](const Por::View::Trait& trait) {
            const Por::View::Unit& value = trait.GetValue();
            key = Por::Util::GetValueTypeIndex(value) == static_cast<int>(Por::ValueKind::Nil) ? &unit : &value;
            return true;
        });
        unit.traits().ForEachNamed(kPrimaryKey, firstMarker);
        return key != nullptr;
    });
    Por::ForEachUnitByLevel(object, perUnit);
    if (!key)
        throw Common::Error(ServiceErrors::kObjectKeyNotFound,
                            Common::GetMessageText(ServiceErrors::kObjectKeyNotFoundText),
                            kSource.At("FindObjectKey", __LINE__));
    return *key;
}

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
