#include "enterprise/common/dml/tools/objpatcher/update_command.h"

#include "core/common/error.h"
#include "enterprise/common/dml/action_facade.h"
#include "enterprise/common/dml/object_key.h"
#include "enterprise/common/dml/tools/objpatcher/property_not_found.h"
#include "enterprise/common/dml/tools/objpatcher/tool_locations.h"
#include "enterprise/common/dml/tools/objpatcher/update_processors.h"
#include "enterprise/common/por/map_lookup.h"
#include "enterprise/common/por/unit_copier.h"

namespace Objpatcher {

namespace {

const Por::Name kPattern("Pattern");
const Por::Name kId("ID");
const Por::Name kDiff("Diff");
const Por::Name kState("State");

} // namespace

Dml::ViewSpec GetViewSpec(const Por::View::Unit& input, const Por::Construction::UnitFactory& factory)
{
    if (const Por::View::Unit* pattern = Por::FindMapElement(&input, kPattern))
        return Dml::ViewSpec(Por::Util::CopyUnit(*pattern, factory), nullptr);
    if (const Por::View::Unit* id = Por::FindMapElement(&input, kId))
        return Dml::ViewSpec(Dml::MakeKeyPattern(*id, factory), nullptr);
    Common::ThrowError(MakePropertyNotFoundError(kGetViewSpecLocation, u"ID"));
}

std::unique_ptr<Dml::AsyncReportReader> GetUpdateProcessor(const Por::View::Unit& input, Dml::PostOffice* postOffice,
                                                           Dml::ObjectRegistry* registry,
                                                           const Por::Construction::UnitFactory& factory)
{
    if (const Por::View::Unit* diff = Por::FindMapElement(&input, kDiff))
        return MakeDiffUpdateProcessor(Dml::MakeServiceHolder(postOffice, registry, &factory),
                                       Por::Util::CopyUnit(*diff, factory));
    if (const Por::View::Unit* state = Por::FindMapElement(&input, kState))
        return MakeStateUpdateProcessor(Dml::MakeServiceHolder(postOffice, registry, &factory), *state, factory);
    Common::ThrowError(MakePropertyNotFoundError(kGetUpdateProcessorLocation, u"State"));
}

} // namespace Objpatcher
