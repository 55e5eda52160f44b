#include "enterprise/serialize/meta_info.h"

namespace Serialization {

const MetaInfo kClassIdMetaInfo("ClassID");
const MetaInfo kObjectMetaInfo("Object");

} // namespace Serialization
