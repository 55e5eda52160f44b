#include "core/file/unix/time_conversion.h"

#include <gtest/gtest.h>

#include <limits>

#include "core/file/unix/sector_map.h"

namespace {

TEST(FileTime, MillisecondsToSystemTimesUseFloorDivision)
{
    struct Case
    {
        int64_t milliseconds;
        int64_t seconds;
        int64_t micro;
    } cases[] = {
        {0, 0, 0},
        {1, 0, 1000},
        {999, 0, 999000},
        {1000, 1, 0},
        {1234567, 1234, 567000},
        {-1, -1, 999000},
        {-1000, -1, 0},
        {-1001, -2, 999000},
        {-86400123, -86401, 877000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.milliseconds);
        const timeval tv = FileTime::MillisecondsToTimeval(c.milliseconds);
        EXPECT_EQ(tv.tv_sec, c.seconds);
        EXPECT_EQ(tv.tv_usec, c.micro);
        EXPECT_GE(tv.tv_usec, 0);
        EXPECT_LT(tv.tv_usec, 1000000);
        const timespec ts = FileTime::MillisecondsToTimespec(c.milliseconds);
        EXPECT_EQ(ts.tv_sec, c.seconds);
        EXPECT_EQ(ts.tv_nsec, c.micro * 1000);
        // And back.
        EXPECT_EQ(FileTime::TimevalToMilliseconds(tv), c.milliseconds);
        EXPECT_EQ(FileTime::TimespecToMilliseconds(ts), c.milliseconds);
    }
    const timeval lowest = FileTime::MillisecondsToTimeval(std::numeric_limits<int64_t>::min());
    EXPECT_GE(lowest.tv_usec, 0);
}

TEST(FileTime, SystemTimesToMillisecondsTruncateAndSaturate)
{
    EXPECT_EQ(FileTime::TimespecToMilliseconds(timespec{5, 999999999}), 5999);
    EXPECT_EQ(FileTime::TimespecToMilliseconds(timespec{std::numeric_limits<time_t>::max(), 0}),
              std::numeric_limits<int64_t>::max());
    EXPECT_EQ(FileTime::TimespecToMilliseconds(timespec{std::numeric_limits<time_t>::min(), 0}),
              std::numeric_limits<int64_t>::min());
}

TEST(SectorMap, PhysicalSectorIsSixtyFourBit)
{
    EXPECT_EQ(SectorMap::PhysicalSector(0, 8, 3), SectorMap::kUnallocated);
    EXPECT_EQ(SectorMap::PhysicalSector(10, 8, 3), 83u);
    // Block 0x20000000 of 4 KiB lies at 2 TiB: sector 2^32 + 5, beyond 32 bits.
    EXPECT_EQ(SectorMap::PhysicalSector(0x20000000u, 8, 5), 0x100000005ull);
    EXPECT_EQ(SectorMap::PhysicalSector(0xFFFFFFFFu, 8, 7), 0x7FFFFFFFFull);
}

} // namespace
