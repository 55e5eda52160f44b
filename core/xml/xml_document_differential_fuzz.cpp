// Differential fuzz target of the document loader: the same bytes loaded from
// an in-memory file and from a source that delivers 1 to 8 bytes per read (as
// a pipe or a socket may), and borrowed from memory instead of copied, must
// give the same result, the same line and column, and the same tree, for text
// and binary input alike.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/xml/xml_document.h"
#include "core/xml/xml_test_support.h"

namespace {

// Read sizes from 1 to 8, drawn from the input itself so that every input
// always meets the same deliveries.
std::vector<size_t> StepsFor(const uint8_t* data, size_t size)
{
    uint64_t state = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < size; ++i)
        state = (state ^ data[i]) * 0x100000001b3ull;
    std::vector<size_t> steps(13);
    for (size_t& step : steps) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        step = 1 + static_cast<size_t>(state >> 61);
    }
    return steps;
}

std::string Shape(const xml_tag* root)
{
    return root != nullptr ? XmlTest::Describe(*root) : std::string("(no tree)");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    XmlTest::Loaded whole;
    XmlTest::Load(whole, bytes);

    XmlTest::TrickleSource trickle(bytes, StepsFor(data, size));
    XmlTest::Loaded trickled;
    trickled.ok = load_xml_document(trickled.root, trickle, trickled.line, trickled.column);

    if (whole.ok != trickled.ok || whole.line != trickled.line || whole.column != trickled.column)
        std::abort();
    if (Shape(whole.root) != Shape(trickled.root))
        std::abort();

    XmlTest::Loaded borrowed;
    XmlTest::Load(borrowed, bytes, XmlText::Borrowed);
    if (whole.ok != borrowed.ok || whole.line != borrowed.line || whole.column != borrowed.column)
        std::abort();
    if (Shape(whole.root) != Shape(borrowed.root))
        std::abort();
    return 0;
}
