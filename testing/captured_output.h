// Standard output captured while a Testing::CapturedOutput lives: writes to
// std::cout go to a string instead.
//
//     Testing::CapturedOutput output;
//     ... code that prints ...
//     EXPECT_EQ(output.Text(), "...");
//
// Threading: the test's thread; nothing else may print meanwhile.
#pragma once

#include <iostream>
#include <sstream>
#include <string>

namespace Testing {

class CapturedOutput
{
public:
    CapturedOutput() : m_previous(std::cout.rdbuf(m_captured.rdbuf())) {}
    ~CapturedOutput() { std::cout.rdbuf(m_previous); }
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;

    std::string Text() const { return m_captured.str(); }

private:
    std::ostringstream m_captured;
    std::streambuf* m_previous;
};

} // namespace Testing
