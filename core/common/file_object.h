// The root of every file, directory and iterator object of the file layer.
//
// Each object holds one error slot, a Common::Error. The slot is the only
// failure channel of the file layer: no virtual operation throws. A slot is
// clear when it holds no record or a first record with code 0, and failed
// otherwise. Two disciplines are used by the operations:
//   keep-first: the operation does nothing while the slot is failed, so the
//               first failure survives until the caller takes it out;
//   replace:    the operation runs whatever the slot holds and leaves its own
//               outcome (a failure or Common::Success) in the slot.
// A caller checks the slot after each call whose result it needs, and takes
// the error out with TakeError; the object is usable again after that.
//
// Binary contract (file_object): declaration order is the binary order; never insert or reorder.
//
// Threading: an object is used by one thread at a time.
#pragma once

#include <cstdint>

#include "core/common/error.h"

// Control requests (IOCTL) are records that begin with a 64-bit code whose low
// 32 bits hold four characters, the first in the lowest byte, and whose high
// 32 bits are zero. The fields after the code depend on the code.
constexpr uint64_t MakeControlCode(const char (&name)[5])
{
    return static_cast<uint64_t>(static_cast<unsigned char>(name[0])) |
        static_cast<uint64_t>(static_cast<unsigned char>(name[1])) << 8 |
        static_cast<uint64_t>(static_cast<unsigned char>(name[2])) << 16 |
        static_cast<uint64_t>(static_cast<unsigned char>(name[3])) << 24;
}

// The common head of every control request.
struct control_request
{
    uint64_t code;
};

class file_object
{
public:
    file_object() = default;
    file_object(const file_object&) = delete;
    file_object& operator=(const file_object&) = delete;
    virtual ~file_object();

    // Default: stores 0x4000E "The operation is not supported." when the slot
    // is clear (keep-first). `request` points at a control_request head.
    virtual void IOCTL(void* request);

    // Returns the error held in the slot (records shared, not copied) and
    // leaves Common::Success in the slot.
    Common::Error TakeError() noexcept;

    // Slot access for implementations and callers.
    const Common::Error& GetError() const noexcept { return m_error; }
    bool IsFailed() const noexcept { return m_error.GetCode() != 0; }
    bool IsClear() const noexcept { return m_error.GetCode() == 0; }
    void SetError(const Common::Error& error) noexcept { m_error = error; }
    void SetError(Common::Error&& error) noexcept { m_error = static_cast<Common::Error&&>(error); }
    void SetSuccess() noexcept { m_error = Common::Success; }

protected:
    Common::Error m_error;
};

// Reads the code of a control request (the request may be unaligned).
uint64_t GetControlCode(const void* request) noexcept;
