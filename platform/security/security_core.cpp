#include "platform/security/security_core.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include "core/common/error_blob.h"

namespace {

struct State
{
    std::mutex lock;
    SecurityStandIn::InitializeOutcome outcome = SecurityStandIn::InitializeOutcome::Succeed;
    Common::Error error;
    bool failed = false;
};

State& GetState()
{
    static State* const state = new State; // used until exit, never destroyed
    return *state;
}

std::atomic<uint64_t> g_lastTag{0};

} // namespace

int Security_Initialize(uint64_t tag, int, int)
{
    g_lastTag.store(tag);
    State& state = GetState();
    std::lock_guard<std::mutex> guard(state.lock);
    state.failed = state.outcome != SecurityStandIn::InitializeOutcome::Succeed;
    return state.failed ? 1 : 0;
}

void Security_GetLastError(unsigned char** block, uint32_t* size)
{
    *block = nullptr;
    *size = 0;
    State& state = GetState();
    std::lock_guard<std::mutex> guard(state.lock);
    if (!state.failed)
        return;
    switch (state.outcome) {
    case SecurityStandIn::InitializeOutcome::FailWithErrorBlock:
        *block = Common::SerializeError(state.error, *size);
        break;
    case SecurityStandIn::InitializeOutcome::FailWithUndecodableBlock: {
        // A version byte the blob reader does not know, then bytes.
        static const unsigned char kUndecodable[] = {0x7F, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
        *block = new unsigned char[sizeof kUndecodable];
        std::memcpy(*block, kUndecodable, sizeof kUndecodable);
        *size = sizeof kUndecodable;
        break;
    }
    default:
        break;
    }
}

namespace SecurityStandIn {

void SetInitializeOutcomeForTesting(InitializeOutcome outcome, const Common::Error& error)
{
    State& state = GetState();
    std::lock_guard<std::mutex> guard(state.lock);
    state.outcome = outcome;
    state.error = error;
    state.failed = false;
}

uint64_t GetLastInitializeTagForTesting()
{
    return g_lastTag.load();
}

} // namespace SecurityStandIn
