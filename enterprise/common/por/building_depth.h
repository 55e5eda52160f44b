// Por::Util::BuildingDepth: the nesting depth of a unit being built from a
// stream of building events, counted as the unit accumulator opens frames, so
// that readers of outside input (the binary unit form, the text notation)
// refuse input that nests deeper than their limit and no unit is deeper than
// the recursive operations on units can take.
//
// Every property and trait event opens a frame; a value event fills the frame
// of the property or trait just named, and otherwise may open one (the root,
// an array element, or an element for a second value where one is already
// set); End closes the innermost frame. The count takes every value event not
// right after a property or trait as opening a frame, which it does in the
// usual order of events (the count is then the exact number of open frames
// with a value or a name) and which over-counts for events out of order (a
// Nil replaced in place, a value ignored by a finished root, a property named
// again taking its values in place). So whatever the events, the accumulator
// never holds more than `limit` frames with a value or a name (besides an
// empty root), and no unit it builds is deeper than the limit.
//
// Threading: one reader's local.
#pragma once

#include <cstddef>
#include <utility>

namespace Por::Util {

class BuildingDepth
{
public:
    explicit BuildingDepth(size_t limit) noexcept : m_limit(limit) {}

    // A property or trait; false when its frame would pass the limit.
    bool OpenNamed() noexcept
    {
        m_afterNamed = true;
        return Open();
    }
    // A value event; false when a frame it may open would pass the limit.
    bool Value() noexcept
    {
        if (std::exchange(m_afterNamed, false))
            return true;
        return Open();
    }
    void Close() noexcept
    {
        m_afterNamed = false;
        if (m_open > 0)
            --m_open;
    }
    // The frames open now: for events in the usual order, the Ends still due.
    size_t GetOpen() const noexcept { return m_open; }

private:
    bool Open() noexcept
    {
        if (m_open >= m_limit)
            return false;
        ++m_open;
        return true;
    }

    size_t m_limit;
    size_t m_open = 0;         // frames open, over-counted for events out of order
    bool m_afterNamed = false; // the last event was a property or trait
};

} // namespace Por::Util
