#include "enterprise/common/por/value_kind.h"

namespace Por {

const char kValueKindNames[kValueKindCount][17] = {
    "Nil",    "Boolean", "Byte", "SByte", "Word",   "SWord", "DWord", "SDWord",    "QWord",
    "SQWord", "Double",  "Blob", "Guid",  "String", "Error", "Array", "Composite",
};

const char kValueKindLowerNames[kValueKindCount][17] = {
    "nil",    "boolean", "byte", "sbyte", "word",   "sword", "dword", "sdword",    "qword",
    "sqword", "double",  "blob", "guid",  "string", "error", "array", "composite",
};

} // namespace Por
