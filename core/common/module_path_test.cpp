#include "core/common/module_path.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <unistd.h>

namespace {

std::string ProcSelfExe()
{
    char target[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", target, sizeof target);
    return length > 0 ? std::string(target, static_cast<size_t>(length)) : std::string();
}

TEST(ModulePath, EqualsTheTargetOfProcSelfExe)
{
    EXPECT_EQ(Common::GetModulePath(), ProcSelfExe());
    EXPECT_EQ(Common::GetModuleFileName(), "core_common_test");
}

TEST(ModulePath, RelativeLoaderNameIsJoinedToTheCurrentDirectory)
{
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir("/tmp"), 0);
    EXPECT_EQ(Common::Detail::ModulePathFromLoaderName("./tool"), "/tmp/tool");
    EXPECT_EQ(Common::Detail::ModulePathFromLoaderName("a/../b/./tool"), "/tmp/b/tool");
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_EQ(Common::Detail::ModulePathFromLoaderName("/opt//x/tool"), "/opt/x/tool");
    EXPECT_EQ(Common::Detail::ModulePathFromLoaderName("tool"), ProcSelfExe());
}

TEST(ModulePath, AppendNormalizedPathResolvesDotsAndSlashes)
{
    struct Case
    {
        const char* base;
        const char* path;
        const char* expected;
    } cases[] = {
        {"/", "a", "/a"},
        {"/a/b", "..", "/a"},
        {"/", "..", "/"},
        {"/a", "../..", "/"},
        {"/home/u", "./tool", "/home/u/tool"},
        {"/home/u", "x//y/./z/..", "/home/u/x/y"},
        {"/home/u", "/etc/./passwd", "/etc/passwd"},
        {"", "/", "/"},
        {"abc", "..", "a"},
        {"/a/", "b", "/a//b"},
    };
    for (const Case& c : cases) {
        std::string base = c.base;
        Common::AppendNormalizedPath(base, c.path);
        EXPECT_EQ(base, c.expected) << c.base << " + " << c.path;
    }
}

TEST(ModulePath, TextMapsHighBytesToPrivateUseUnits)
{
    const std::string path = Common::GetModulePath();
    const std::u16string text = Common::GetModulePathText();
    ASSERT_EQ(text.size(), path.size());
    EXPECT_EQ(text, Common::Detail::ModulePathText(path));

    struct Case
    {
        std::string path;
        std::u16string text;
    } cases[] = {
        {"/opt/caf\xC3\xA9/tool", u"/opt/caf\uF8C3\uF8A9/tool"},
        {"\x7F\x80\xFF", u"\u007F\uF880\uF8FF"},
        {"", u""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Common::Detail::ModulePathText(c.path), c.text) << c.path;
}

} // namespace
