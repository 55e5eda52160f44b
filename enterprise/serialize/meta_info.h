// Element descriptors of the serialization interfaces: the name, version and
// optional traits of one element, as writers and readers of values describe
// it, plus the generic element names shared by containers, pointers and
// optional values.
//
// Threading: plain values; a descriptor is used by one thread at a time. The
// trait lists they point at are built once at start-up and only read later.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Serialization {

// One trait of an element. The three texts are static, non-null and not owned.
struct MetaInfoTrait
{
    const char* name;
    const char* type;
    const char* value;
};

using MetaInfoTraitList = std::vector<MetaInfoTrait>;

struct MetaInfo
{
    // Empty: the value has no element of its own and goes into (comes from)
    // the enclosing element.
    std::string name;
    // Version of the element's content; 0 means unversioned.
    uint64_t version = 0;
    // Traits written with the element; null means none.
    std::shared_ptr<MetaInfoTraitList> primaryTraits;
    std::shared_ptr<MetaInfoTraitList> secondaryTraits;
    // Reading only: the element must be the next child of its parent.
    bool strictOrder = false;
    // 0: not bound to a peer version; otherwise the peer version the element
    // is meant for.
    int32_t targetVersion = 0;
    // The version written when the serializer writes for that peer version.
    uint64_t versionForTarget = 0;

    MetaInfo() = default;
    explicit MetaInfo(const std::string& elementName) : name(elementName) {}
    MetaInfo(const std::string& elementName, bool strict) : name(elementName), strictOrder(strict) {}
};

// Name-only descriptors "ClassID" and "Object".
extern const MetaInfo kClassIdMetaInfo;
extern const MetaInfo kObjectMetaInfo;

// Generic element names for containers, pointers and optional values.
inline constexpr const char* kVectorTag = "vector";
inline constexpr const char* kMapTag = "map";
inline constexpr const char* kMultimapTag = "multimap";
inline constexpr const char* kSetTag = "set";
inline constexpr const char* kListTag = "list";
inline constexpr const char* kItemTag = "item";
inline constexpr const char* kAutoPtrTag = "auto_ptr";
inline constexpr const char* kRawPtrTag = "raw_ptr";
inline constexpr const char* kSharedPtrTag = "shared_ptr";
inline constexpr const char* kPtrValueTag = "ptr_value";
inline constexpr const char* kPtrMarkTag = "ptr_mark";
inline constexpr const char* kOptionalTypeTag = "optional_type";
inline constexpr const char* kIsNullTag = "is_null";
inline constexpr const char* kOptionalTag = "optional";
inline constexpr const char* kIsInitTag = "is_init";
inline constexpr const char* kCheckedTypeTag = "checked_type";
inline constexpr const char* kValueTag = "value";

} // namespace Serialization
