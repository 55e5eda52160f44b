// Starting the security core: success, and each way a failure is reported.

#include "enterprise/common/security/client/init.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/common/location.h"
#include "enterprise/common/security/client/security_errors.h"
#include "platform/security/security_core.h"
#include "testing/error_matchers.h"

namespace {

using SecurityStandIn::InitializeOutcome;
using Testing::ErrorIs;

const Common::Location kCaller =
    Common::SourceFile("enterprise/common/dml/tools/objpatcher/main", 0x1000).At("main", 5);

class SecurityInitialize : public ::testing::Test
{
protected:
    ~SecurityInitialize() override { SecurityStandIn::SetInitializeOutcomeForTesting(InitializeOutcome::Succeed); }
};

TEST_F(SecurityInitialize, SucceedsWithTheCallersTag)
{
    EXPECT_THAT(Security::Initialize(kCaller), Testing::IsSuccessError());
    EXPECT_EQ(SecurityStandIn::GetLastInitializeTagForTesting(), 0x1005u);
}

TEST_F(SecurityInitialize, AFailureWithAnErrorBlockGivesTheDecodedError)
{
    const Common::Error coreError(0x2740011, u"certificate store locked",
                                  Common::SourceFile("security/core").At("Open", 77));
    SecurityStandIn::SetInitializeOutcomeForTesting(InitializeOutcome::FailWithErrorBlock, coreError);
    EXPECT_THAT(Security::Initialize(kCaller),
                ::testing::AllOf(ErrorIs(0x2740011), Testing::HasText(u"certificate store locked"),
                                 Testing::RaisedAt("security/core", "Open", 77)));
}

TEST_F(SecurityInitialize, AFailureWithoutAReadableBlockIsAnInvalidResult)
{
    // The undecodable block is freed once, as the block of the other cases
    // (checked by the leak and double-free detection of the sanitizer build).
    for (InitializeOutcome outcome : {InitializeOutcome::FailWithoutBlock, InitializeOutcome::FailWithUndecodableBlock,
                                      InitializeOutcome::FailWithErrorBlock}) {
        SecurityStandIn::SetInitializeOutcomeForTesting(outcome, Common::Error());
        EXPECT_THAT(Security::Initialize(kCaller),
                    ::testing::AllOf(ErrorIs(SecurityErrors::kInvalidOperationResult),
                                     Testing::HasText(u"An invalid operation result is returned from security core."),
                                     Testing::RaisedAt("enterprise/common/security/client/init", "Initialize", 34),
                                     Testing::HasLineTag(0x1e27b907e4f1f52aull)));
    }
}

} // namespace
