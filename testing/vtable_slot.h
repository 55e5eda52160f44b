// Slot positions of virtual operations, for tests that pin an interface's
// binary order.
//
// Interfaces shared with closed libraries (files, directories, serializers,
// units, factories, access points, the async service) are a binary contract:
// their declaration order is their virtual-table order. A test pins each
// operation to its slot:
//
//     EXPECT_EQ(Testing::VirtualSlot(&file_identifier::Clone), 2u);
//     EXPECT_EQ(Testing::VirtualSlotOf<i_file, void(void*, uint64_t, uint64_t*)>(&i_file::Read), 0u);
//
// or a whole table at once, in its order (the destructor pair as a marker):
//
//     EXPECT_EQ(Testing::SlotOrderMismatches({{"~file_object", Testing::kDestructorPair},
//                                             {"IOCTL", Testing::VirtualSlot(&file_object::IOCTL)}}),
//               "");
//
// With g++ on x86-64 (the Itanium C++ ABI) a pointer to a virtual member
// function stores 1 + the byte offset of its slot in the table; the slot index
// is that offset divided by the size of a table entry. Slot 0 is the first
// operation declared; a virtual destructor takes two slots (complete and
// deleting) at the place it is declared, an implicit one at the end. A
// destructor has no address: its place shows in the slots of the operations
// around it, or, at the end of a table, in the first slot of a class derived
// from it that declares one operation of its own (TableSize).
//
// Threading: pure computation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
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

// VirtualSlot of one overload, chosen by its function type:
//     VirtualSlotOf<i_dir, i_dir*(const char16_t*)>(&i_dir::OpenDir)
//     VirtualSlotOf<Deserializer, uint64_t() const>(&Deserializer::GetSubjectVersion)
template <typename Class, typename Function>
size_t VirtualSlotOf(Function Class::*member)
{
    return VirtualSlot(member);
}

// The number of slots in the primary table of `Base`: the slot of the first
// operation that a class derived from it declares. Pins an implicit
// destructor pair at the end of a table, and that a class adds no entries.
template <typename Base>
size_t TableSize()
{
    struct Probe : Base
    {
        virtual void ProbeOperation() = 0;
    };
    return VirtualSlot(&Probe::ProbeOperation);
}

// Marks the two destructor slots in a table given to SlotOrderMismatches.
inline constexpr size_t kDestructorPair = SIZE_MAX - 1;

struct SlotEntry
{
    const char* name;
    size_t slot; // VirtualSlot of the operation, or kDestructorPair
};

// Checks a table given in its order, its first entry at slot `first`: one
// line for each operation that is not at its place, "" when all are.
inline std::string SlotOrderMismatches(std::initializer_list<SlotEntry> table, size_t first = 0)
{
    std::string mismatches;
    size_t expected = first;
    for (const SlotEntry& entry : table) {
        if (entry.slot == kDestructorPair) {
            expected += 2;
            continue;
        }
        if (entry.slot != expected) {
            mismatches += std::string(entry.name) + ": slot " +
                (entry.slot == SIZE_MAX ? std::string("(not virtual)") : std::to_string(entry.slot)) + ", expected " +
                std::to_string(expected) + "\n";
        }
        ++expected;
    }
    return mismatches;
}

} // namespace Testing
