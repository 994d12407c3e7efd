// Choosing access modes from what a project advertises.
#include "rirudez/bridgekit/MacBridgeAccessPolicy.h"

#include <gtest/gtest.h>

using namespace rirudez;
using namespace Qt::StringLiterals;

namespace {

using M = RepoAccessMode;

TEST(AvailableModes, NormalisesKeepsBridgeOrderAndDropsDuplicatesAndNoise) {
    const QStringList advertised{u"  Edit \n"_s, u"edit"_s, u"ASK"_s, u"admin"_s, u""_s, u"\twatch"_s};
    EXPECT_EQ(MacBridgeAccessPolicy::availableModes(advertised), (QList<M>{M::edit, M::ask, M::watch}));
}

TEST(AccessPolicy, NothingUsableAdvertised) {
    for (const QStringList &advertised : {QStringList{}, QStringList{u"root"_s, u"ed it"_s, u" "_s}}) {
        EXPECT_TRUE(MacBridgeAccessPolicy::availableModes(advertised).isEmpty());
        EXPECT_EQ(MacBridgeAccessPolicy::strongestSandbox(advertised), std::nullopt);
        for (const M requested : allRepoAccessModes) {
            for (const std::optional<QString> &fallback :
                 {std::optional<QString>{}, std::optional<QString>{u"edit"_s},
                  std::optional<QString>{u"watch"_s}})
                EXPECT_EQ(MacBridgeAccessPolicy::resolve(requested, advertised, fallback), M::ask);
        }
    }
}

TEST(StrongestSandbox, HighestRankWhereverItStands) {
    EXPECT_EQ(MacBridgeAccessPolicy::strongestSandbox({u"ask"_s, u"edit"_s, u"watch"_s}), M::edit);
    EXPECT_EQ(MacBridgeAccessPolicy::strongestSandbox({u"propose"_s, u"watch"_s}), M::propose);
    EXPECT_EQ(MacBridgeAccessPolicy::strongestSandbox({u"WATCH"_s}), M::watch);
}

struct ResolveCase {
    const char *name;
    M requested;
    std::optional<QString> fallback;
    M expected;
};

void PrintTo(const ResolveCase &c, std::ostream *os) {
    *os << c.name;
}

// The project advertises "ask", "edit", "watch" (in that order) for every case.
const ResolveCase resolveCases[] = {
    {"requestedAvailable", M::watch, u"edit"_s, M::watch},
    {"requestedAvailableIgnoresDefault", M::edit, u"ask"_s, M::edit},
    {"defaultWhenRequestedMissing", M::propose, u"watch"_s, M::watch},
    {"defaultTrimmedAndLowered", M::propose, u" \tWaTcH\n"_s, M::watch},
    {"defaultNotAvailableFallsToFirst", M::propose, u"propose"_s, M::ask},
    {"defaultNotAModeFallsToFirst", M::propose, u"everything"_s, M::ask},
    {"noDefaultFallsToFirst", M::propose, std::nullopt, M::ask},
};

class Resolve : public testing::TestWithParam<ResolveCase> {};

TEST_P(Resolve, FirstApplicableRuleWins) {
    const ResolveCase &c = GetParam();
    EXPECT_EQ(MacBridgeAccessPolicy::resolve(c.requested, {u"ask"_s, u"edit"_s, u"watch"_s}, c.fallback),
              c.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, Resolve, testing::ValuesIn(resolveCases),
                         [](const testing::TestParamInfo<ResolveCase> &param) {
                             return std::string(param.param.name);
                         });

TEST(ResolveFallback, IsFirstInBridgeOrderNotLowestRank) {
    EXPECT_EQ(MacBridgeAccessPolicy::resolve(M::propose, {u"edit"_s, u"watch"_s}, std::nullopt), M::edit);
}

} // namespace
