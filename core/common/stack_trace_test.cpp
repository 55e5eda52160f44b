#include "core/common/stack_trace.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Format(const char* symbolLine)
{
    char out[4096];
    Common::Detail::FormatStackLine(symbolLine, out, sizeof out);
    return out;
}

std::string Pad(const std::string& text, size_t width)
{
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

TEST(StackTraceLine, ColumnsOfModuleNameOffsetAndRest)
{
    EXPECT_EQ(Format("./prog(_Z3fooi+0x1a) [0x4005d4]"),
              Pad("./prog", 30) + " ( " + Pad("foo(int)", 40) + "  + " + Pad("0x1a", 6) + ")  [0x4005d4]");
    // A name that does not demangle is shown as it is; an empty one stays empty.
    EXPECT_EQ(Format("/lib/libc.so.6(__libc_start_main+0xf3) [0x7f]"),
              Pad("/lib/libc.so.6", 30) + " ( " + Pad("__libc_start_main", 40) + "  + " + Pad("0xf3", 6) + ")  [0x7f]");
    EXPECT_EQ(Format("./prog(+0x1234) [0x1]"),
              Pad("./prog", 30) + " ( " + Pad("", 40) + "  + " + Pad("0x1234", 6) + ")  [0x1]");
}

TEST(StackTraceLine, WithoutOffset)
{
    EXPECT_EQ(Format("./prog(main) [0x1]"),
              Pad("./prog", 30) + " ( " + Pad("main", 40) + "    " + Pad("", 6) + ")  [0x1]");
    // A "+" in the module is not an offset.
    EXPECT_EQ(Format("./g++dir/prog(main) [0x1]"),
              Pad("./g++dir/prog", 30) + " ( " + Pad("main", 40) + "    " + Pad("", 6) + ")  [0x1]");
}

TEST(StackTraceLine, LinesWithoutNamePartArePadded)
{
    EXPECT_EQ(Format("[0x4005d4]"), Pad("[0x4005d4]", 40));
    EXPECT_EQ(Format("odd)(line"), Pad("odd)(line", 40));
    EXPECT_EQ(Format(""), Pad("", 40));
}

TEST(StackTraceLine, LongLinesAreCut)
{
    const std::string name(5000, 'n');
    const std::string line = "./prog(" + name + "+0x1) [0x1]";
    char out[4096];
    Common::Detail::FormatStackLine(line.c_str(), out, sizeof out);
    EXPECT_EQ(std::string(out).size(), 4095u);
}

struct Collected
{
    std::vector<unsigned> frames;
    std::vector<std::string> lines;
    unsigned stopAfter = ~0u;
};

bool Collect(unsigned frame, const char* line, void* userData)
{
    auto& collected = *static_cast<Collected*>(userData);
    collected.frames.push_back(frame);
    collected.lines.push_back(line);
    return collected.frames.size() < collected.stopAfter;
}

TEST(StackTrace, WalkDeliversFramesInOrderUpToTheLimit)
{
    Collected all;
    EXPECT_TRUE(Common::WalkStackTrace(32, &Collect, &all));
    ASSERT_GE(all.frames.size(), 3u);
    EXPECT_LE(all.frames.size(), 32u);
    for (size_t i = 0; i < all.frames.size(); ++i) {
        EXPECT_EQ(all.frames[i], i);
        EXPECT_FALSE(all.lines[i].empty());
    }

    Collected two;
    EXPECT_TRUE(Common::WalkStackTrace(2, &Collect, &two));
    EXPECT_EQ(two.frames.size(), 2u);
}

TEST(StackTrace, CallbackStopsTheWalk)
{
    Collected one;
    one.stopAfter = 1;
    EXPECT_FALSE(Common::WalkStackTrace(32, &Collect, &one));
    EXPECT_EQ(one.frames.size(), 1u);
}

TEST(StackTrace, NoFramesNoCalls)
{
    Collected none;
    EXPECT_FALSE(Common::WalkStackTrace(0, &Collect, &none));
    EXPECT_TRUE(none.frames.empty());
}

} // namespace
