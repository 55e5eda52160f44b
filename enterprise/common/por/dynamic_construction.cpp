#include "enterprise/common/por/dynamic_construction.h"

#include <map>

#include "core/common/non_copyable.h"

namespace Por {

namespace {

class ConstructionDynamicContext : private Common::NonCopyable
{
public:
    virtual ~ConstructionDynamicContext() = default;
    std::map<std::u16string, DynamicConstructionBuilder> builders;
};

ConstructionDynamicContext* g_context = nullptr; // set once the registry exists

ConstructionDynamicContext& Context()
{
    static ConstructionDynamicContext context;
    g_context = &context;
    return context;
}

} // namespace

void RegisterDynamicConstruction(const std::u16string& name, DynamicConstructionBuilder builder)
{
    Context().builders[name] = builder;
}

DynamicConstructionBuilder FindDynamicConstruction(const std::u16string& name)
{
    if (!g_context)
        return nullptr; // nothing registered: the registry is not created for a lookup
    const auto found = g_context->builders.find(name);
    return found == g_context->builders.end() ? nullptr : found->second;
}

} // namespace Por
