#include "enterprise/common/dml/tools/objpatcher/update_command.h"

#include <string>
#include <vector>

#include "core/common/error.h"
#include "core/common/message_catalogue.h"
#include "core/common/message_format.h"
#include "core/common/number_text.h"
#include "enterprise/common/dml/action_facade.h"
#include "enterprise/common/dml/object_key.h"
#include "enterprise/common/dml/tools/objpatcher/error_parameters.h"
#include "enterprise/common/dml/tools/objpatcher/property_not_found.h"
#include "enterprise/common/dml/tools/objpatcher/tool_errors.h"
#include "enterprise/common/dml/tools/objpatcher/tool_locations.h"
#include "enterprise/common/dml/view_options.h"
#include "enterprise/common/por/map_lookup.h"
#include "enterprise/common/por/parser/unit_construction_format.h"
#include "enterprise/common/por/unit_copier.h"

namespace Objpatcher {

namespace {

const Por::Name kPattern("Pattern");
const Por::Name kId("ID");
const Por::Name kDiff("Diff");
const Por::Name kState("State");

// Takes the UTF-16 bytes of the notation writer.
class TextWriter final : public Utils::DataWriter
{
public:
    void WriteData(std::vector<char>& bytes) override
    {
        for (size_t i = 0; i + 1 < bytes.size(); i += 2)
            text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                 static_cast<unsigned char>(bytes[i + 1]) << 8));
    }

    std::u16string text;
};

// The key of `object` in the notation, its lines joined by one blank; empty
// for an object without a key.
std::u16string KeyText(const Por::View::Unit& object)
{
    const Por::View::Unit* key = nullptr;
    try {
        key = &Dml::GetObjectKey(object);
    } catch (const Common::Error&) {
        return {};
    }
    TextWriter writer;
    Utils::UnitConstructionFormat().Write(*key, writer);
    std::u16string line;
    bool blank = false;
    for (const char16_t c : writer.text) {
        if (c == u'\n' || (blank && c == u' ')) {
            blank = true;
            continue;
        }
        if (blank && !line.empty())
            line += u' ';
        blank = false;
        line += c;
    }
    return line;
}

// `failure` with the object that failed and the count updated before it.
Common::Error DescribeStop(const Common::Error& failure, const UpdateProcessor& processor)
{
    const std::u16string updated = Common::ToDecimalText(processor.GetUpdatedCount());
    const std::shared_ptr<const Por::View::Unit>& failed = processor.GetFailedObject();
    const std::u16string key = failed ? KeyText(*failed) : std::u16string();
    if (key.empty())
        return AddErrorParameters(failure, {{"objects updated", updated}});
    return AddErrorParameters(failure, {{"object", key}, {"objects updated", updated}});
}

Common::Error MakeViewFullError(uint64_t limit, uint64_t updated)
{
    const std::u16string text = Common::FormatMessage(Common::GetMessageText(ToolErrors::kViewFullText),
                                                      {Common::ToDecimalText(limit), Common::ToDecimalText(updated)});
    return Common::Error(ToolErrors::kViewFull, text.c_str(), kMainSource.At("RunUpdate", __LINE__));
}

} // namespace

Dml::ViewSpec GetViewSpec(const Por::View::Unit& input, const Por::Construction::UnitFactory& factory)
{
    if (const Por::View::Unit* pattern = Por::FindMapElement(&input, kPattern))
        return Dml::ViewSpec(Por::Util::CopyUnit(*pattern, factory), nullptr);
    if (const Por::View::Unit* id = Por::FindMapElement(&input, kId))
        return Dml::ViewSpec(Dml::MakeKeyPattern(*id, factory), nullptr);
    Common::ThrowError(MakeMissingAlternativesError(kGetViewSpecLocation, u"Pattern", u"ID"));
}

std::unique_ptr<UpdateProcessor> GetUpdateProcessor(const Por::View::Unit& input, Dml::PostOffice* postOffice,
                                                    Dml::ObjectRegistry* registry,
                                                    const Por::Construction::UnitFactory& factory)
{
    if (const Por::View::Unit* diff = Por::FindMapElement(&input, kDiff))
        return MakeDiffUpdateProcessor(Dml::MakeServiceHolder(postOffice, registry, &factory),
                                       Por::Util::CopyUnit(*diff, factory));
    if (const Por::View::Unit* state = Por::FindMapElement(&input, kState))
        return MakeStateUpdateProcessor(Dml::MakeServiceHolder(postOffice, registry, &factory), *state, factory);
    Common::ThrowError(MakeMissingAlternativesError(kGetUpdateProcessorLocation, u"Diff", u"State"));
}

void RunUpdate(Dml::SynchronousDataStore& store, const Core::EntryPoint& caller, const Dml::ViewSpec& specification,
               UpdateProcessor& processor)
{
    try {
        store.Report(caller, specification, processor);
    } catch (const Common::Error& failure) {
        Common::ThrowError(DescribeStop(failure, processor));
    }
    const uint64_t updated = processor.GetUpdatedCount();
    if (updated >= Dml::kDefaultViewLimit)
        Common::ThrowError(MakeViewFullError(Dml::kDefaultViewLimit, updated));
}

} // namespace Objpatcher
