// Por::Util::BuildingDepth: the nesting depth of a unit being built from a
// stream of building events, counted as the unit accumulator opens frames:
// the root, each property and trait, each array element; each End closes the
// innermost. Readers of outside input (the binary unit form, the text
// notation) refuse input that nests deeper than their limit, so that no unit
// is deeper than the recursive operations on units can take.
//
// Events out of the usual order can open frames that this count does not see
// (a value where one is already set opens an element; a Nil is replaced by
// the value that follows it). So every property, trait and value event also
// counts as one possibly opened frame until an End closes it: the accumulator
// never holds more frames than one plus that number, whatever the order. In
// the usual order a unit of `limit` frames opens at most 2 * limit - 1, so
// this bound refuses only events out of order, beyond 2 * limit.
//
// Threading: one reader's local.
#pragma once

#include <cstddef>
#include <vector>

namespace Por::Util {

class BuildingDepth
{
public:
    explicit BuildingDepth(size_t limit) noexcept : m_limit(limit) {}

    // A property or trait opens a frame whose value is still to come; false
    // when that would pass the limit.
    bool OpenNamed() { return MayOpen() && Push(kPending); }
    // A value event fills a pending frame, opens the root, or opens an element
    // of an array frame; false when that would pass the limit.
    bool Value(bool isArray)
    {
        if (!MayOpen())
            return false;
        const Frame frame = isArray ? kArrayFrame : kOtherFrame;
        if (m_frames.empty() || m_frames.back() == kArrayFrame)
            return Push(frame);
        if (m_frames.back() == kPending)
            m_frames.back() = frame;
        return true;
    }
    void Close()
    {
        if (!m_frames.empty())
            m_frames.pop_back();
        if (m_mayBeOpen > 0)
            --m_mayBeOpen;
    }

private:
    enum Frame : unsigned char
    {
        kPending,
        kArrayFrame,
        kOtherFrame,
    };

    bool MayOpen()
    {
        if (m_mayBeOpen >= 2 * m_limit)
            return false;
        ++m_mayBeOpen;
        return true;
    }
    bool Push(Frame frame)
    {
        if (m_frames.size() >= m_limit)
            return false;
        m_frames.push_back(frame);
        return true;
    }

    size_t m_limit;
    std::vector<Frame> m_frames;
    size_t m_mayBeOpen = 0; // property, trait and value events not yet closed by an End
};

} // namespace Por::Util
