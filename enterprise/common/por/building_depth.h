// Por::Util::BuildingDepth: the nesting depth of a unit being built from a
// stream of building events, counted as the unit accumulator opens frames:
// the root, each property and trait, each array element; each End closes the
// innermost. Readers of outside input (the binary unit form, the text
// notation) refuse input that nests deeper than their limit, so that no unit
// is deeper than the recursive operations on units can take.
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
    bool OpenNamed() { return Push(kPending); }
    // A value event fills a pending frame, opens the root, or opens an element
    // of an array frame; false when that would pass the limit.
    bool Value(bool isArray)
    {
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
    }

private:
    enum Frame : unsigned char
    {
        kPending,
        kArrayFrame,
        kOtherFrame,
    };

    bool Push(Frame frame)
    {
        if (m_frames.size() >= m_limit)
            return false;
        m_frames.push_back(frame);
        return true;
    }

    size_t m_limit;
    std::vector<Frame> m_frames;
};

} // namespace Por::Util
