// A shared byte block: bytes held by a boost::shared_array and their count.
// It is one of the value types of the serialization interfaces and the form
// in which a finished packet can be handed over without a further copy.
//
// Threading: a plain value; the share count of the array is atomic.
#pragma once

#include <boost/shared_array.hpp>
#include <cstdint>

namespace Serialization {

struct SharedData
{
    boost::shared_array<unsigned char> data;
    uint64_t size = 0;
};

} // namespace Serialization
