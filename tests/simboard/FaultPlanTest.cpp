// Fault plans: explicit rules, seeded random rules, and their text form.
#include "FaultPlan.h"
#include <gtest/gtest.h>

using namespace boardsim;

namespace {

std::vector<FaultRecord> RunInjector(std::uint64_t seed, int occurrences) {
    FaultPlan plan;
    plan.seed = seed;
    plan.randomFaults.push_back({FaultPoint::HostPacket, FaultAction::Refuse, 200, 0, 0});
    plan.randomFaults.push_back({FaultPoint::HostPacket, FaultAction::DropAnswer, 200, 0, 0});
    plan.randomFaults.push_back({FaultPoint::BoardPacket, FaultAction::DropPayload, 300, 0, 0});
    FaultInjector injector(plan);
    for (int i = 0; i < occurrences; ++i) {
        injector.Decide(FaultPoint::HostPacket);
        if (i % 3 == 0) injector.Decide(FaultPoint::BoardPacket);
    }
    return injector.Log();
}

}  // namespace

TEST(FaultInjector, ExplicitRuleFiresOnItsOccurrencesOnly) {
    FaultPlan plan;
    plan.rules.push_back({FaultPoint::HostPacket, 3, 2, FaultAction::Refuse, 0, 0});
    plan.rules.push_back({FaultPoint::UpdateChunk, 2, 1, FaultAction::RejectChunk, 0, 0x55});
    FaultInjector injector(plan);
    std::vector<FaultAction> seen;
    for (int i = 0; i < 6; ++i) seen.push_back(injector.Decide(FaultPoint::HostPacket).action);
    EXPECT_EQ((std::vector<FaultAction>{FaultAction::None, FaultAction::None, FaultAction::Refuse,
                                        FaultAction::Refuse, FaultAction::None, FaultAction::None}),
              seen);
    EXPECT_EQ(FaultAction::None, injector.Decide(FaultPoint::UpdateChunk).action);
    FaultDecision reject = injector.Decide(FaultPoint::UpdateChunk);
    EXPECT_EQ(FaultAction::RejectChunk, reject.action);
    EXPECT_EQ(0x55u, reject.value);
    ASSERT_EQ(3u, injector.Log().size());
    EXPECT_EQ(4u, injector.Log()[1].occurrence);
    EXPECT_EQ(6u, injector.Occurrences(FaultPoint::HostPacket));
}

TEST(FaultInjector, SameSeedSameFaultsOtherSeedOtherFaults) {
    auto first = RunInjector(12345, 300);
    auto again = RunInjector(12345, 300);
    auto other = RunInjector(54321, 300);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first, again);
    EXPECT_NE(first, other);
}

TEST(FaultInjector, RandomRateRoughlyAsAsked) {
    FaultPlan plan;
    plan.seed = 7;
    plan.randomFaults.push_back({FaultPoint::BoardPacket, FaultAction::DropHeader, 250, 0, 0});
    FaultInjector injector(plan);
    for (int i = 0; i < 4000; ++i) injector.Decide(FaultPoint::BoardPacket);
    EXPECT_GT(injector.Log().size(), 800u);
    EXPECT_LT(injector.Log().size(), 1200u);
}

TEST(FaultInjector, ExplicitRuleWinsButRandomDrawsStayAligned) {
    FaultPlan withRule;
    withRule.seed = 99;
    withRule.randomFaults.push_back({FaultPoint::HostPacket, FaultAction::DropAnswer, 500, 0, 0});
    FaultPlan withoutRule = withRule;
    withRule.rules.push_back({FaultPoint::HostPacket, 1, 1, FaultAction::Refuse, 0, 0});
    FaultInjector a(withRule), b(withoutRule);
    EXPECT_EQ(FaultAction::Refuse, a.Decide(FaultPoint::HostPacket).action);
    b.Decide(FaultPoint::HostPacket);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(a.Decide(FaultPoint::HostPacket).action, b.Decide(FaultPoint::HostPacket).action);
}

TEST(FaultPlanText, ParsesRulesAndRandomFaults) {
    FaultRule rule;
    ASSERT_TRUE(ParseFaultRule("host:3:2:refuse", &rule));
    EXPECT_EQ(FaultPoint::HostPacket, rule.point);
    EXPECT_EQ(3u, rule.first);
    EXPECT_EQ(2u, rule.times);
    EXPECT_EQ(FaultAction::Refuse, rule.action);
    ASSERT_TRUE(ParseFaultRule("chunk:2:1:reject:0:0x1234", &rule));
    EXPECT_EQ(FaultAction::RejectChunk, rule.action);
    EXPECT_EQ(0x1234u, rule.value);
    ASSERT_TRUE(ParseFaultRule("connect:1:1:delay-answer:4000", &rule));
    EXPECT_EQ(4000u, rule.delayMs);
    EXPECT_FALSE(ParseFaultRule("host:0:1:refuse", &rule));
    EXPECT_FALSE(ParseFaultRule("host:1:1:explode", &rule));
    EXPECT_FALSE(ParseFaultRule("nowhere:1:1:refuse", &rule));
    EXPECT_FALSE(ParseFaultRule("host:1:refuse", &rule));
    EXPECT_FALSE(ParseFaultRule("host:1:1:refuse:1:2:3", &rule));
    EXPECT_FALSE(ParseFaultRule("host:-1:1:refuse", &rule));

    RandomFault fault;
    ASSERT_TRUE(ParseRandomFault("board:drop-payload:50", &fault));
    EXPECT_EQ(FaultPoint::BoardPacket, fault.point);
    EXPECT_EQ(FaultAction::DropPayload, fault.action);
    EXPECT_EQ(50u, fault.perMille);
    EXPECT_FALSE(ParseRandomFault("board:drop-payload:1001", &fault));
    EXPECT_FALSE(ParseRandomFault("board:drop-payload", &fault));
    for (int i = 1; i <= static_cast<int>(FaultAction::Unplug); ++i) {
        std::string text = std::string("host:") + FaultActionName(static_cast<FaultAction>(i)) + ":10";
        EXPECT_TRUE(ParseRandomFault(text, &fault)) << text;
        EXPECT_EQ(static_cast<FaultAction>(i), fault.action);
    }
}
