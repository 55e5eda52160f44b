// Slot positions of virtual operations, for tests that pin an interface's
// binary order.
//
// Interfaces shared with closed libraries (files, directories, serializers,
// units, factories, access points, the async service) are a binary contract:
// their declaration order is their virtual-table order. A test pins each
// operation to its slot:
//
//     EXPECT_EQ(Testing::VirtualSlot(&i_file::Read), 2u);
//
// With g++ on x86-64 (the Itanium C++ ABI) a pointer to a virtual member
// function stores 1 + the byte offset of its slot in the table; the slot index
// is that offset divided by the size of a table entry. Slot 0 is the first
// operation declared; a virtual destructor takes two slots (complete and
// deleting) at the place it is declared.
//
// Threading: constant computation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace Testing {

// The slot index of the virtual member function `member`; SIZE_MAX when the
// pointer does not name a virtual function.
template <typename Member>
size_t VirtualSlot(Member member)
{
    static_assert(std::is_member_function_pointer_v<Member>, "pass &Class::Operation");
    static_assert(sizeof(Member) == 2 * sizeof(uintptr_t), "Itanium member function pointer layout");
    uintptr_t words[2];
    std::memcpy(words, &member, sizeof words);
    if ((words[0] & 1) == 0)
        return SIZE_MAX; // a plain function address: not virtual
    return (words[0] - 1) / sizeof(void*);
}

} // namespace Testing
