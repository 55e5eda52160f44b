// Por::Util::BuildingDepth: the nesting depth of a unit being built from a
// stream of building events, counted as the unit accumulator keeps its frames,
// so that the count is the nesting of the unit: there is always a root frame; a
// property or trait opens a frame whose value is still to come; a value event
// fills a frame that holds nothing or Nil, is ignored on a root that holds a
// value other than an Array, and on any other frame opens a new element frame
// (whether or not the frame holds an Array: such an element is built, and only
// dropped at its End); an End closes the innermost frame, and closing the root
// opens a fresh one. Readers of outside input (the binary unit form, the text
// notation) refuse input that nests deeper than their limit, so that no unit is
// deeper than the recursive operations on units can take.
//
// Threading: one reader's local.
#pragma once

#include <cstddef>
#include <vector>

namespace Por::Util {

class BuildingDepth
{
public:
    // What a value event brings.
    enum class Content : unsigned char
    {
        Nil,
        Array,
        Other,
    };

    explicit BuildingDepth(size_t limit) : m_limit(limit) { m_frames.push_back(Frame{kEmpty, true}); }

    // A property or trait opens a frame; false when that would pass the limit.
    bool OpenNamed() { return Push(Frame{kEmpty, false}); }
    // A value event; false when it would open a frame past the limit.
    bool Value(Content content)
    {
        const Held held = content == Content::Nil ? kNil : content == Content::Array ? kArray : kOther;
        Frame& top = m_frames.back();
        if (top.held == kEmpty || top.held == kNil) {
            top.held = held;
            return true;
        }
        if (top.root && top.held != kArray)
            return true; // the accumulator ignores it
        return Push(Frame{held, false});
    }
    void Close()
    {
        m_frames.pop_back();
        if (m_frames.empty())
            m_frames.push_back(Frame{kEmpty, true});
    }

private:
    enum Held : unsigned char
    {
        kEmpty,
        kNil,
        kArray,
        kOther,
    };
    struct Frame
    {
        Held held;
        bool root;
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
