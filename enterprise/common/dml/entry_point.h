// Core::EntryPoint: the call-site record every DML view request carries: the
// LineTag, source file and line of the caller's location (the function name is
// not kept) and a shared data array that nothing here fills; copies share the
// array and it is never written to a packet.
//
// Threading: a plain value; copies made on different threads share only the
// array's atomically counted owner.
#pragma once

#include <cstdint>
#include <string>

#include <boost/shared_array.hpp>

#include "core/common/location.h"

namespace Core {

class EntryPoint
{
public:
    explicit EntryPoint(const Common::Location& location);
    EntryPoint(const EntryPoint& other) = default;
    EntryPoint& operator=(const EntryPoint& other) = default;
    ~EntryPoint() = default;

    uint64_t GetLocationId() const noexcept { return m_locationId; }
    const std::string& GetSourceFile() const noexcept { return m_sourceFile; }
    uint32_t GetLine() const noexcept { return m_line; }
    const boost::shared_array<unsigned char>& GetData() const noexcept { return m_data; }
    uint64_t GetDataSize() const noexcept { return m_dataSize; }

private:
    uint64_t m_locationId;
    std::string m_sourceFile;
    uint32_t m_line;
    boost::shared_array<unsigned char> m_data;
    uint64_t m_dataSize;
};

} // namespace Core
