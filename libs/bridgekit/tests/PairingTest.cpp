// Pair links (parse and url) and the pairing record's derived addresses.
#include "rirudez/bridgekit/Pairing.h"

#include <gtest/gtest.h>

#include <optional>

using namespace rirudez;
using namespace Qt::StringLiterals;

namespace {

struct LinkCase {
    const char *name;
    const char16_t *text;
    std::optional<Pairing> expected = std::nullopt; // nothing: the link must be rejected
    std::optional<QString> appScheme = std::nullopt;
};

void PrintTo(const LinkCase &c, std::ostream *os) {
    *os << c.name;
}

Pairing pairing(const QString &host, int port, const QString &token, std::optional<QString> fp = {}) {
    return Pairing{host, port, token, std::move(fp)};
}

const LinkCase linkCases[] = {
    {"plain", u"doduzadod://pair?host=10.0.0.2&port=8800&token=abc", pairing(u"10.0.0.2"_s, 8800, u"abc"_s)},
    {"surroundingWhitespace", u"  \n\t doduzadod://pair?host=h&port=1&token=t \n ",
     pairing(u"h"_s, 1, u"t"_s)},
    {"keysInAnyOrder", u"doduzadod://pair?token=t&fp=ab&port=9&host=h", pairing(u"h"_s, 9, u"t"_s, u"ab"_s)},
    {"fingerprintLowered", u"doduzadod://pair?host=h&port=8800&token=t&fp=ABCDEF0123",
     pairing(u"h"_s, 8800, u"t"_s, u"abcdef0123"_s)},
    {"emptyFingerprintIsAbsent", u"doduzadod://pair?host=h&port=8800&token=t&fp=",
     pairing(u"h"_s, 8800, u"t"_s)},
    {"valuesPercentDecoded", u"doduzadod://pair?host=%5B%3A%3A1%5D&port=%2B8800&token=a%26b%3Dc",
     pairing(u"[::1]"_s, 8800, u"a&b=c"_s)},
    {"plusIsNotSpace", u"doduzadod://pair?host=h&port=1&token=a+b", pairing(u"h"_s, 1, u"a+b"_s)},
    {"equalsInsideValue", u"doduzadod://pair?host=h&port=1&token=a==", pairing(u"h"_s, 1, u"a=="_s)},
    {"firstOccurrenceWins", u"doduzadod://pair?host=first&host=second&port=2&port=x&token=t",
     pairing(u"first"_s, 2, u"t"_s)},
    {"percentEncodedKey", u"doduzadod://pair?h%6Fst=h&port=3&token=t", pairing(u"h"_s, 3, u"t"_s)},
    {"portWithPlus", u"doduzadod://pair?host=h&port=+8800&token=t", pairing(u"h"_s, 8800, u"t"_s)},
    {"portLeadingZeros", u"doduzadod://pair?host=h&port=0008800&token=t", pairing(u"h"_s, 8800, u"t"_s)},
    {"portLowest", u"doduzadod://pair?host=h&port=1&token=t", pairing(u"h"_s, 1, u"t"_s)},
    {"portHighest", u"doduzadod://pair?host=h&port=65535&token=t", pairing(u"h"_s, 65535, u"t"_s)},
    {"authorityPortAndPathIgnored", u"doduzadod://pair:77/extra?host=h&port=5&token=t",
     pairing(u"h"_s, 5, u"t"_s)},
    {"appSchemeGiven", u"myapp://pair?host=h&port=4&token=t", pairing(u"h"_s, 4, u"t"_s), u"myapp"_s},
    {"canonicalWithAppSchemeGiven", u"doduzadod://pair?host=h&port=4&token=t", pairing(u"h"_s, 4, u"t"_s),
     u"myapp"_s},
    {"mixedCaseAppSchemeAsWritten", u"MyApp://pair?host=h&port=4&token=t", pairing(u"h"_s, 4, u"t"_s),
     u"MyApp"_s},
    {"empty", u""},
    {"blank", u" \n "},
    {"appSchemeNotGiven", u"myapp://pair?host=h&port=4&token=t"},
    {"appSchemeDiffersInCase", u"myapp://pair?host=h&port=4&token=t", std::nullopt, u"MyApp"_s},
    {"upperCaseScheme", u"DODUZADOD://pair?host=h&port=1&token=t"},
    {"otherScheme", u"https://pair?host=h&port=1&token=t"},
    {"noScheme", u"pair?host=h&port=1&token=t"},
    {"otherHost", u"doduzadod://peer?host=h&port=1&token=t"},
    {"upperCaseHost", u"doduzadod://PAIR?host=h&port=1&token=t"},
    {"hostPrefix", u"doduzadod://pairs?host=h&port=1&token=t"},
    {"noAuthority", u"doduzadod:pair?host=h&port=1&token=t"},
    {"noQuery", u"doduzadod://pair"},
    {"hostMissing", u"doduzadod://pair?port=1&token=t"},
    {"hostFirstEmpty", u"doduzadod://pair?host=&host=h&port=1&token=t"},
    {"hostFirstWithoutValue", u"doduzadod://pair?host&host=h&port=1&token=t"},
    {"portMissing", u"doduzadod://pair?host=h&token=t"},
    {"portZero", u"doduzadod://pair?host=h&port=0&token=t"},
    {"portTooLarge", u"doduzadod://pair?host=h&port=65536&token=t"},
    {"portNegative", u"doduzadod://pair?host=h&port=-1&token=t"},
    {"portWithLetters", u"doduzadod://pair?host=h&port=88a0&token=t"},
    {"portSignOnly", u"doduzadod://pair?host=h&port=%2B&token=t"},
    {"portDoubleSign", u"doduzadod://pair?host=h&port=%2B%2B1&token=t"},
    {"portWithSpace", u"doduzadod://pair?host=h&port=%208800&token=t"},
    {"portNonAsciiDigit", u"doduzadod://pair?host=h&port=%D9%A3&token=t"},
    {"portBeyond64Bits", u"doduzadod://pair?host=h&port=18446744073709551617&token=t"},
    {"portWrapsTo8800", u"doduzadod://pair?host=h&port=4294975696&token=t"},
    {"portFirstEmpty", u"doduzadod://pair?host=h&port=&port=1&token=t"},
    {"tokenEmpty", u"doduzadod://pair?host=h&port=1&token="},
    {"tokenWithoutValue", u"doduzadod://pair?host=h&port=1&token"},
    {"tokenMissing", u"doduzadod://pair?host=h&port=1"},
    {"spaceInsideLink", u"doduzadod://pair?host=a b&port=1&token=t"},
    {"brokenPercentEscape", u"doduzadod://pair?host=h&port=1&token=%zz"},
};

class PairLink : public testing::TestWithParam<LinkCase> {};

TEST_P(PairLink, ParsesOrRejects) {
    const LinkCase &c = GetParam();
    const auto parsed = Pairing::parse(QString::fromUtf16(c.text), c.appScheme);
    if (!c.expected) {
        EXPECT_FALSE(parsed.has_value()) << "accepted as " << parsed->description().toStdString();
        return;
    }
    EXPECT_EQ(parsed, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, PairLink, testing::ValuesIn(linkCases),
                         [](const testing::TestParamInfo<LinkCase> &param) {
                             return std::string(param.param.name);
                         });

TEST(PairLinkURL, WritesPartsInOrderUnencodedAndFingerprintOnlyWhenPresent) {
    const Pairing without{u"127.0.0.1"_s, 8800, u"a/b+c"_s, std::nullopt};
    EXPECT_EQ(without.url(u"doduzadod"_s), u"doduzadod://pair?host=127.0.0.1&port=8800&token=a/b+c"_s);

    const Pairing with{u"127.0.0.1"_s, 8800, u"tok"_s, u"ab12"_s};
    EXPECT_EQ(with.url(u"myapp"_s), u"myapp://pair?host=127.0.0.1&port=8800&token=tok&fp=ab12"_s);
}

TEST(PairLinkURL, RoundTripsThroughParse) {
    const QString fp = u"0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef"_s;
    for (const Pairing &p : {Pairing{u"192.168.1.20"_s, 8800, u"Zq-9_x.~T"_s, fp},
                             Pairing{u"bridge.local"_s, 65535, u"t"_s, std::nullopt}}) {
        EXPECT_EQ(Pairing::parse(p.url(Pairing::canonicalScheme.toString())), p);
        EXPECT_EQ(Pairing::parse(p.url(u"myapp"_s), u"myapp"_s), p);
        EXPECT_EQ(Pairing::parse(p.url(u"myapp"_s)), std::nullopt);
    }
}

TEST(PairingRecord, DescriptionIsHostAndPortOnly) {
    const Pairing p{u"127.0.0.1"_s, 8800, u"secret-token"_s, u"feedface"_s};
    EXPECT_EQ(p.description(), u"127.0.0.1:8800"_s);
    EXPECT_FALSE(p.description().contains(u"secret"_s));
    EXPECT_FALSE(p.description().contains(u"feedface"_s));
}

TEST(PairingRecord, AddressesOfAUsableHost) {
    for (const QString &host : {u"127.0.0.1"_s, u"bridge.local"_s, u"[::1]"_s}) {
        const Pairing p{host, 8800, u"t"_s, std::nullopt};
        ASSERT_TRUE(p.wsURL().has_value()) << host.toStdString();
        ASSERT_TRUE(p.httpBase().has_value()) << host.toStdString();
        EXPECT_EQ(p.wsURL()->toString(), u"wss://"_s + host + u":8800/ws"_s);
        EXPECT_EQ(p.httpBase()->toString(), u"https://"_s + host + u":8800"_s);
    }
}

TEST(PairingRecord, HostThatCannotStandInAURLGivesNoAddresses) {
    // Each of these would either fail to parse or quietly address something else (another host, path or
    // port).
    for (const QString &host : {u"exa mple"_s, u""_s, u"a/b"_s, u"a?b"_s, u"a#b"_s, u"user@evil"_s, u"h:99"_s,
                                u"::1"_s, u"%zz"_s}) {
        const Pairing p{host, 8800, u"t"_s, std::nullopt};
        EXPECT_FALSE(p.wsURL().has_value()) << host.toStdString();
        EXPECT_FALSE(p.httpBase().has_value()) << host.toStdString();
    }
}

} // namespace
