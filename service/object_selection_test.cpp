// Views select exactly the objects the matcher selects, also where the
// selection passes objects over by their stored bytes.

#include "service/object_selection.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "enterprise/common/por/blob_walking_route.h"
#include "enterprise/common/por/unit_copier.h"
#include "enterprise/common/por/unit_match.h"
#include "enterprise/common/por/unit_printer.h"
#include "enterprise/common/por/utils.h"
#include "service/object_key.h"
#include "service/request_packets_test_support.h"
#include "service/service_test_support.h"
#include "service/store_errors.h"
#include "testing/error_matchers.h"

namespace {

using namespace ServiceTesting;
using ::testing::ElementsAre;
using Testing::ErrorIs;
using Testing::IsSuccessError;

constexpr int32_t kDml = 46;

class ObjectSelection : public MemoryFolder
{
protected:
    void SetUp() override { ASSERT_THAT(Service::Store::Open(PathOf("objects.db"), m_store), IsSuccessError()); }

    void Store(const std::string& key, const Ipc::Bytes& body)
    {
        ASSERT_THAT(m_store->Run(Service::Store::Mode::Write,
                                 [&](Service::Transaction& t) { return t.Insert(kDml, B(key), body); }),
                    IsSuccessError());
    }
    void Store(const UnitPtr& object)
    {
        Ipc::Bytes body;
        Por::Util::WriteBinaryUnit(*object, body);
        Store(std::to_string(m_objects.size()), body);
        m_objects.push_back(object);
    }

    // The positions (in m_objects) of the objects the selection lists.
    Common::Error Select(const UnitPtr& pattern, std::vector<size_t>& positions, uint64_t& count)
    {
        const Service::Selection selection(*pattern);
        std::vector<Service::SelectedObject> selected;
        Common::Error error = m_store->Run(Service::Store::Mode::Read, [&](Service::Transaction& t) {
            Common::Error listed = selection.List(t, kDml, Service::kNoLimit, selected);
            return listed.IsSuccess() ? selection.Count(t, kDml, count) : listed;
        });
        for (const Service::SelectedObject& object : selected)
            positions.push_back(std::stoul(std::string(object.key.begin(), object.key.end())));
        return error;
    }

    std::unique_ptr<Service::Store> m_store;
    std::vector<UnitPtr> m_objects;
};

TEST_F(ObjectSelection, SelectsWhatTheMatcherSelects)
{
    PorTesting::Make m(Factory());
    Common::Guid guid{};
    guid.first = 7;
    const std::vector<unsigned char> blob = {1, 2, 0, 3};
    auto object = [&](const char16_t* kind, uint32_t size, const char16_t* inner, double ratio, bool flag) {
        return m.Composite(m.Prop("Kind", m.String(kind)), m.Prop("Size", m.DWord(size)),
                           m.Prop("Nested", m.Composite(m.Prop("Inner", m.String(inner)))),
                           m.Prop("Ratio", m.Double(ratio)), m.Prop("Flag", m.Boolean(flag)),
                           m.Prop("Tagged", m.With(m.String(kind), "Note", m.String(u"beside the value"))),
                           m.Prop("Id", m.Guid(guid)), m.Prop("Bytes", m.Blob(blob)), m.Prop("Delta", m.SDWord(-5)));
    };
    Store(object(u"a", 5, u"x", 0.0, true));
    Store(object(u"ab", 5, u"y", -0.0, false));
    Store(object(u"abc", 6, u"x", 1.5, true));
    Store(object(u"", 5, u"", 2.0, false));
    Store(m.Composite(m.Prop("Kind", m.With(m.String(u"a"), "PrimaryKey", m.Nil()))));
    Store(m.Composite(m.Prop("Size", m.QWord(5)), m.Prop("Kind", m.String(u"b"))));
    Store(m.String(u"a"));
    // Many plain values: all of them, and all but the last.
    auto many = [&](int count) {
        std::unique_ptr<Por::Construction::Unit> unit = Factory().CreateComposite();
        for (int i = 0; i < count; ++i)
            Por::Util::AddProperty(*unit, Por::Name(("P" + std::to_string(i)).c_str()), Factory().CreateString(u"v"),
                                   Factory());
        return UnitPtr(std::move(unit));
    };
    Store(many(40));
    Store(many(39));

    const UnitPtr patterns[] = {
        many(40),
        m.Composite(m.Prop("Kind", m.String(u"a"))),
        m.Composite(m.Prop("Kind", m.String(u"ab"))),
        m.Composite(m.Prop("Kind", m.String(u""))),
        m.Composite(m.Prop("Kind", m.String(u"b")), m.Prop("Size", m.DWord(5))),
        m.Composite(m.Prop("Size", m.DWord(5))),
        m.Composite(m.Prop("Size", m.QWord(5))),
        m.Composite(m.Prop("Nested", m.Composite(m.Prop("Inner", m.String(u"x"))))),
        m.Composite(m.Prop("Nested", m.Composite())),
        m.Composite(m.Prop("Ratio", m.Double(0.0))), // -0.0 equals it, with other bytes
        m.Composite(m.Prop("Flag", m.Boolean(false))),
        m.Composite(m.Prop("Tagged", m.String(u"ab"))),
        m.Composite(m.Prop("Id", m.Guid(guid)), m.Prop("Bytes", m.Blob(blob)), m.Prop("Delta", m.SDWord(-5))),
        m.Composite(m.Prop("Delta", m.SDWord(5))),
        m.Composite(m.Prop("Kind", m.With(m.String(u"-"), "Like", m.String(u"a%")))),
        m.Composite(m.Prop("Kind", m.Nil())),
        m.Composite(m.Prop("Missing", m.String(u"a"))),
        m.With(m.Composite(m.Prop("Kind", m.String(u"a"))), "Not", m.Composite()),
        m.Composite(),
        m.String(u"a"),
        m.Nil(),
    };
    for (const UnitPtr& pattern : patterns) {
        std::ostringstream shown;
        Por::Util::PrintUnit(*pattern, "", shown, false);
        std::vector<size_t> expected;
        for (size_t i = 0; i < m_objects.size(); ++i) {
            bool matched = false;
            try {
                matched = Por::MatchUnit(*m_objects[i], *pattern);
            } catch (const Common::Error&) {
                matched = false;
            }
            if (matched)
                expected.push_back(i);
        }
        std::vector<size_t> positions;
        uint64_t count = 0;
        const Common::Error error = Select(pattern, positions, count);
        if (!error.IsSuccess())
            continue; // the matcher refuses the pattern itself (e.g. "Like" over a non-String)
        EXPECT_EQ(positions, expected) << shown.str();
        EXPECT_EQ(count, expected.size()) << shown.str();
    }
}

TEST_F(ObjectSelection, AnObjectWithoutAPlainValueThePatternAsksForIsNotRead)
{
    PorTesting::Make m(Factory());
    Store(m.Composite(m.Prop("Kind", m.String(u"a"))));
    Ipc::Bytes unreadable;
    Por::Util::WriteBinaryUnit(*m.Composite(m.Prop("Kind", m.String(u"b"))), unreadable);
    unreadable.push_back('?'); // the form goes on past its end
    Store("broken", unreadable);

    std::vector<size_t> positions;
    uint64_t count = 0;
    EXPECT_THAT(Select(m.Composite(m.Prop("Kind", m.String(u"a"))), positions, count), IsSuccessError());
    EXPECT_THAT(positions, ElementsAre(0u));
    EXPECT_EQ(count, 1u);
    // A pattern it may match reads it, and fails on it.
    EXPECT_THAT(Select(m.Composite(m.Prop("Kind", m.String(u"b"))), positions, count), ErrorIs(Service::kStoreFailed));
}

} // namespace
