#include "enterprise/common/dml/tools/objpatcher/update_processors.h"

#include <utility>

#include "core/common/error.h"
#include "enterprise/common/dml/action_facade.h"
#include "enterprise/common/dml/object_key.h"
#include "enterprise/common/dml/tools/objpatcher/state_patch.h"

namespace Objpatcher {

namespace {

class DiffUpdateProcessor final : public UpdateProcessor
{
public:
    DiffUpdateProcessor(std::shared_ptr<Dml::ServiceHolder> holder, std::shared_ptr<Por::Construction::Unit> diff)
        : UpdateProcessor(std::move(holder)), m_diff(std::move(diff))
    {
    }

private:
    std::shared_ptr<Por::Construction::Unit> GetPatch(const Por::View::Unit&) override { return m_diff; }

    std::shared_ptr<Por::Construction::Unit> m_diff;
};

class StateUpdateProcessor final : public UpdateProcessor
{
public:
    StateUpdateProcessor(std::shared_ptr<Dml::ServiceHolder> holder, const Por::View::Unit& state,
                         const Por::Construction::UnitFactory& factory)
        : UpdateProcessor(std::move(holder)), m_state(state), m_factory(factory)
    {
    }

private:
    std::shared_ptr<Por::Construction::Unit> GetPatch(const Por::View::Unit& object) override
    {
        return MakeStatePatch(object, m_state, m_factory);
    }

    const Por::View::Unit& m_state;
    const Por::Construction::UnitFactory& m_factory;
};

} // namespace

UpdateProcessor::UpdateProcessor(std::shared_ptr<Dml::ServiceHolder> holder) : m_holder(std::move(holder))
{
}

UpdateProcessor::~UpdateProcessor() = default;

std::shared_ptr<Async::Job> UpdateProcessor::Read(const std::shared_ptr<const Por::View::Unit>& object,
                                                  Async::ActionHandler& handler)
{
    m_current = object;
    try {
        const std::shared_ptr<Por::Construction::Unit> patch = GetPatch(*object);
        const Por::View::Unit& key = Dml::GetObjectKey(*object);
        const std::unique_ptr<Async::Action> action = Dml::Update(m_holder, key, *patch);
        m_handler = &handler;
        return action->Perform(*this);
    } catch (const Common::Error&) {
        m_handler = nullptr;
        m_failed = object;
        throw;
    }
}

void UpdateProcessor::Completed(const Common::Error& result)
{
    if (result.IsSuccess())
        m_updated.fetch_add(1, std::memory_order_release);
    else
        m_failed = m_current;
    // Last: the report may read the next object before this call returns.
    std::exchange(m_handler, nullptr)->Completed(result);
}

std::unique_ptr<UpdateProcessor> MakeDiffUpdateProcessor(std::shared_ptr<Dml::ServiceHolder> holder,
                                                         std::shared_ptr<Por::Construction::Unit> diff)
{
    return std::make_unique<DiffUpdateProcessor>(std::move(holder), std::move(diff));
}

std::unique_ptr<UpdateProcessor> MakeStateUpdateProcessor(std::shared_ptr<Dml::ServiceHolder> holder,
                                                          const Por::View::Unit& state,
                                                          const Por::Construction::UnitFactory& factory)
{
    return std::make_unique<StateUpdateProcessor>(std::move(holder), state, factory);
}

} // namespace Objpatcher
