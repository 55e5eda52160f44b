// The POR text notation: Utils::UnitConstructionFormat reads a unit from the
// bytes of a Utils::DataReader (Read) and renders one for a Utils::DataWriter
// (Write).
//
// Read takes each input byte as one character (no UTF-8 decoding), then reads
// statements `[.]Name(argument)` separated by blanks (space, CR, LF, tab), each
// one call on a Por::Util::UnitConstructor over the given factory: Composite,
// Array, Nil, End, Property/Trait/String with a quoted text, Guid, Boolean and
// the eight integer kinds with a token. With the trace flag set it writes
// "Interpret trace: ", the echo of every statement and, after a successful
// read, one line feed to standard output. The unit of the last root value
// closed is the result (null when none was closed), passed through the
// post-processor when one is set. Failures are Common::Error with bare codes
// (1, 2, 3, 6 "Statement '{0}' is unknown.", 7, 8, and 9 "The unit is nested
// too deeply." beyond kMaxNotationDepth); the constructor's errors pass
// through. Nothing is read past the end of the text.
//
// Write renders a unit in the layout that Read reads back (two spaces per
// level, members on their own lines, traits first) as UTF-16 code units, two
// bytes each, low byte first. Double, Blob and Error values and texts holding
// a quote character are written but do not read back.
//
// Declaration order of PorFormat, UnitPostProcessor and DataWriter is the
// binary order; never insert or reorder.
// Threading: a format holds no state between calls; the statement table is
// built at start-up and only read.
#pragma once

#include <memory>
#include <vector>

#include "core/common/non_copyable.h"
#include "enterprise/common/por/parser/file_io.h"
#include "enterprise/common/por/unit_factory.h"

namespace Utils {

inline constexpr size_t kMaxNotationDepth = 1000;

// How far one read got: the statements it read and the frames still open
// when it ended (for statements in the usual order, the End statements due).
struct ReadProgress
{
    size_t statements = 0;
    size_t open = 0;
};

class DataWriter : private Common::NonCopyable
{
public:
    virtual ~DataWriter() = default;
    virtual void WriteData(std::vector<char>& bytes) = 0;
};

class UnitPostProcessor : private Common::NonCopyable
{
public:
    virtual ~UnitPostProcessor() = default;
    virtual std::unique_ptr<Por::Construction::Unit> Process(std::unique_ptr<Por::Construction::Unit> unit,
                                                             const Por::Construction::UnitFactory& factory) = 0;
};

class PorFormat : private Common::NonCopyable
{
public:
    virtual ~PorFormat() = default;
    virtual std::unique_ptr<Por::Construction::Unit> Read(DataReader& reader,
                                                          const Por::Construction::UnitFactory& factory) = 0;
    virtual void Write(const Por::View::Unit& unit, DataWriter& writer) = 0;
};

class UnitConstructionFormat final : public PorFormat
{
public:
    explicit UnitConstructionFormat(std::unique_ptr<UnitPostProcessor> postProcessor = nullptr,
                                    bool trace = true) noexcept
        : m_postProcessor(std::move(postProcessor)), m_trace(trace)
    {
    }

    std::unique_ptr<Por::Construction::Unit> Read(DataReader& reader,
                                                  const Por::Construction::UnitFactory& factory) override;
    // Read that also tells how far it got: `progress` counts the statements
    // read whole, also when a later one throws.
    std::unique_ptr<Por::Construction::Unit> Read(DataReader& reader, const Por::Construction::UnitFactory& factory,
                                                  ReadProgress& progress);
    void Write(const Por::View::Unit& unit, DataWriter& writer) override;

private:
    std::unique_ptr<UnitPostProcessor> m_postProcessor;
    bool m_trace;
};

} // namespace Utils
