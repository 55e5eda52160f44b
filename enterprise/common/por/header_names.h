// Names shared by the object model's users, made from runtime text: each text
// is widened one UTF-16 unit per byte and converted to UTF-8, so the names own
// their text and carry hash 0. They compare equal to names made from the same
// literals.
//
// Threading: constant after start-up.
#pragma once

#include <string>

#include "enterprise/common/por/name.h"

namespace Por {

namespace Detail {
inline Name NameFromWidenedText(const char* text)
{
    return Name(std::u16string(text, text + std::char_traits<char>::length(text)));
}
} // namespace Detail

inline const Name kTimeNowOffsetName = Detail::NameFromWidenedText("TimeNowOffset");
inline const Name kCacheReadDisabledName = Detail::NameFromWidenedText("CacheReadDisabled");
inline const Name kChannelIdName = Detail::NameFromWidenedText("ChannelID");
inline const Name kChannelCreationName = Detail::NameFromWidenedText("ChannelCreation");
inline const Name kChannelRemovalName = Detail::NameFromWidenedText("ChannelRemoval");
inline const Name kChannelErrorName = Detail::NameFromWidenedText("ChannelError");

} // namespace Por
