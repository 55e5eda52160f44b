// Transfer flags of request arguments: whether an argument is written with
// the call and whether it is read back from the reply.
//
//   flag   written     read back
//   0, 3   yes         yes
//   1      yes         no
//   2      no          yes
//   4, 7   assertion   assertion
//   5      assertion   no
//   6      no          assertion
//   > 7    no          no
//
// Flags 4 to 7 ask for encryption, which no argument type supports: where the
// argument would be transferred the failed check is reported and the argument
// is passed over. Every builder of this system passes 0.
//
// Threading: pure functions (the assertion report is thread-safe).
#pragma once

#include <cstdint>

namespace Binding::Detail {

// True when the argument is written; reports the encryption check (and
// answers false) for flags 4, 5 and 7.
bool IsWrittenWithCall(uint32_t flag);
// True when the argument is read back; reports the encryption check (and
// answers false) for flags 4, 6 and 7.
bool IsReadFromReply(uint32_t flag);

} // namespace Binding::Detail
