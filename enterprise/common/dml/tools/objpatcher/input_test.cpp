// The tool's input: from the command line or a file, echoed while parsed.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

#include "enterprise/common/dml/tools/objpatcher/input.h"
#include "enterprise/common/por/in_memory_unit_factory.h"
#include "enterprise/common/por/test_support/render.h"
#include "testing/captured_output.h"
#include "testing/error_matchers.h"
#include "testing/temporary_folder.h"

namespace {

using namespace Objpatcher;
using namespace Testing;

const Por::Construction::InMemoryUnitFactory kFactory;

// A scratch folder that is the working directory while the suite runs (the
// file layer reads the working directory once per process).
class InputFolder : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_folder = std::make_unique<TemporaryFolder>("objpatcher_input");
        s_previous = std::filesystem::current_path();
        std::filesystem::current_path(s_folder->Path());
    }
    static void TearDownTestSuite()
    {
        std::filesystem::current_path(s_previous);
        s_folder.reset();
    }
    static void Write(const std::string& name, const std::string& text) { s_folder->Write(name, text); }

    static inline std::unique_ptr<TemporaryFolder> s_folder;
    static inline std::filesystem::path s_previous;
};

TEST_F(InputFolder, TextAndFileGiveTheSameUnitAndEcho)
{
    const char* text = ".Composite() .Property(\"Name\").String(\"n\u00e9\").End() .End()";
    Write("object.por", text);
    for (const InputChoice& choice : {InputChoice{true, text}, InputChoice{false, "object.por"}}) {
        CapturedOutput output;
        const auto unit = ReadInput(choice, kFactory);
        ASSERT_TRUE(unit);
        EXPECT_EQ(PorTesting::Render(*unit), "{Name: String \"n\xc3\x83\xc2\xa9\"}") << choice.isText;
        EXPECT_EQ(output.Text(), "Interpret trace: .Composite().Property(\"Name\").String(\"n\u00e9\").End().End()\n");
    }
}

TEST_F(InputFolder, AFileNamedFromTextIsRead)
{
    Write("from_text", ".DWord(7).End()");
    CapturedOutput output;
    const auto unit = ReadInput({false, "from_text"}, kFactory);
    ASSERT_TRUE(unit);
    EXPECT_EQ(PorTesting::Render(*unit), "DWord 7");
}

TEST_F(InputFolder, AnEmptyFileEndsBeforeItsUnit)
{
    Write("empty.por", "");
    CapturedOutput output;
    try {
        (void)ReadInput({false, "empty.por"}, kFactory);
        FAIL() << "no error";
    } catch (const Common::Error& error) {
        EXPECT_THAT(error, ErrorIs(0xFA000Bu));
        EXPECT_THAT(error,
                    HasText(u"POR: The input ends before its unit is complete (statements read: 0; units "
                            u"without their .End(): 0)."));
    }
}

TEST_F(InputFolder, AMissingFileIsAReadError)
{
    CapturedOutput output;
    try {
        (void)ReadInput({false, "missing.por"}, kFactory);
        FAIL() << "no error";
    } catch (const Common::Error& error) {
        EXPECT_THAT(error, ErrorIs(1u));
        EXPECT_THAT(error, CausedBy(ErrorIs(0x40011u)));
    }
}

TEST(Input, ATextThatCompletesNoUnitSaysHowFarItGot)
{
    struct Case
    {
        const char* text;
        const char16_t* counts;
    };
    const Case cases[] = {
        {"", u"statements read: 0; units without their .End(): 0"},
        {" \n\t ", u"statements read: 0; units without their .End(): 0"},
        {".Composite() .Property(\"ID\").String(\"p1\").End()", u"statements read: 4; units without their .End(): 1"},
        {".Composite() .Property(\"a\").Composite()", u"statements read: 3; units without their .End(): 2"},
        {".End()", u"statements read: 1; units without their .End(): 0"},
    };
    for (const Case& c : cases) {
        CapturedOutput output;
        try {
            (void)ReadInput({true, c.text}, kFactory);
            ADD_FAILURE() << "no error for \"" << c.text << "\"";
        } catch (const Common::Error& error) {
            EXPECT_THAT(error, ErrorIs(0xFA000Bu));
            EXPECT_THAT(
                error,
                HasText(u"POR: The input ends before its unit is complete (" + std::u16string(c.counts) + u")."));
            EXPECT_STREQ(error.GetLocation().function, "ReadInput");
        }
    }
}

TEST(Input, AParseErrorPassesThrough)
{
    CapturedOutput output;
    EXPECT_THROW((void)ReadInput({true, ".Composite().Bogus()"}, kFactory), Common::Error);
}

} // namespace
