#include "enterprise/common/dml/action_facade.h"

#include <utility>

#include "enterprise/common/async/action_adaptor.h"
#include "enterprise/common/dml/dml_actions.h"
#include "enterprise/common/por/unit_copier.h"

namespace Dml {
namespace {

constexpr Common::SourceFile kSource("enterprise/common/dml/action_facade", 0xf2a48d81ba5715ecull - 120);

// Owns a DML action and a share of the holder, which the job handle keeps.
class ServiceHoldingAction final : public Async::Action
{
public:
    ServiceHoldingAction(std::unique_ptr<Async::Action> inner, std::shared_ptr<ServiceHolder> holder)
        : m_inner(std::move(inner)), m_holder(std::move(holder))
    {
    }

    std::shared_ptr<Async::Job> Perform(Async::ActionHandler& handler) override
    {
        std::shared_ptr<Async::Job> job = m_inner->Perform(handler);
        if (!m_holder)
            return job;
        return Async::Detail::AttachLifeCycleData(std::move(job), m_holder);
    }

private:
    // Destroyed in reverse: the holder share first, then the action.
    std::unique_ptr<Async::Action> m_inner;
    std::shared_ptr<ServiceHolder> m_holder;
};

std::unique_ptr<Async::Action> Holding(std::unique_ptr<Async::Action> inner,
                                       const std::shared_ptr<ServiceHolder>& holder)
{
    return std::make_unique<ServiceHoldingAction>(std::move(inner), holder);
}

std::shared_ptr<const Por::View::Unit> CopyWith(const Por::View::Unit& unit,
                                                const Por::Construction::UnitFactory* factory)
{
    return std::shared_ptr<const Por::View::Unit>(Por::Util::CopyUnit(unit, *factory));
}

} // namespace

std::shared_ptr<ServiceHolder> MakeServiceHolder(PostOffice* postOffice, ObjectRegistry* registry,
                                                 const Por::Construction::UnitFactory* unitFactory)
{
    return std::make_shared<ServiceHolder>(postOffice, registry, unitFactory);
}

std::shared_ptr<ServiceHolder> MakeServiceHolder(PostOffice* postOffice,
                                                 const Por::Construction::UnitFactory* unitFactory)
{
    return std::make_shared<ServiceHolder>(postOffice, unitFactory);
}

std::unique_ptr<Async::Action> ProcessReportAsync(const std::shared_ptr<ServiceHolder>& holder,
                                                  const Core::EntryPoint& caller, const ViewSpec& specification,
                                                  const std::shared_ptr<AsyncReportReader>& reader)
{
    PostOffice* postOffice = holder->GetPostOffice(kSource.At("ProcessReportAsync", 223));
    const Por::Construction::UnitFactory* factory = holder->GetUnitFactory(kSource.At("ProcessReportAsync", 224));
    return Holding(std::make_unique<Actions::LongReport>(caller, specification, reader, postOffice, factory), holder);
}

std::unique_ptr<Async::Action> UpdateObject(const std::shared_ptr<ServiceHolder>& holder,
                                            const std::shared_ptr<const Por::View::Unit>& key,
                                            const std::shared_ptr<const Por::View::Unit>& patch)
{
    const Por::View::SafeUnitHolder keyHolder(key);
    const Por::View::SafeUnitHolder patchHolder(patch);
    ObjectRegistry* registry = holder->GetObjectRegistry(kSource.At("UpdateObject", 120));
    return Holding(std::make_unique<Actions::Update>(keyHolder, patchHolder, registry), holder);
}

std::unique_ptr<Async::Action> Update(const std::shared_ptr<ServiceHolder>& holder, const Por::View::Unit& key,
                                      const Por::View::Unit& patch)
{
    const std::shared_ptr<const Por::View::Unit> keyCopy = CopyWith(key,
                                                                    holder->GetUnitFactory(kSource.At("Update", 126)));
    const std::shared_ptr<const Por::View::Unit> patchCopy = CopyWith(
        patch, holder->GetUnitFactory(kSource.At("Update", 127)));
    return UpdateObject(holder, keyCopy, patchCopy);
}

std::unique_ptr<Async::Action> UnregisterByPatternObject(const std::shared_ptr<ServiceHolder>& holder,
                                                         const Core::EntryPoint& caller,
                                                         const std::shared_ptr<const Por::View::Unit>& pattern)
{
    const Por::View::SafeUnitHolder patternHolder(pattern);
    PostOffice* postOffice = holder->GetPostOffice(kSource.At("UnregisterByPatternObject", 203));
    ObjectRegistry* registry = holder->GetObjectRegistry(kSource.At("UnregisterByPatternObject", 204));
    const Por::Construction::UnitFactory* factory = holder->GetUnitFactory(
        kSource.At("UnregisterByPatternObject", 204));
    return Holding(std::make_unique<Actions::UnregisterByPattern>(caller, patternHolder, postOffice, registry, factory),
                   holder);
}

std::unique_ptr<Async::Action> UnregisterByPattern(const std::shared_ptr<ServiceHolder>& holder,
                                                   const Core::EntryPoint& caller, const Por::View::Unit& pattern)
{
    const std::shared_ptr<const Por::View::Unit> copy = CopyWith(
        pattern, holder->GetUnitFactory(kSource.At("UnregisterByPattern", 197)));
    return UnregisterByPatternObject(holder, caller, copy);
}

} // namespace Dml
