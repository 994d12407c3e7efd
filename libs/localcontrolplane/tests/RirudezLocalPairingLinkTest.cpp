// The local pairing link: parsing outcomes in the documented order of checks (one table), the validating
// constructor, url() read back by parse() for awkward values, and the HTTP base URL.

#include "rirudez/localcontrolplane/RirudezLocalPairingLink.h"

#include <QFile>

#include <gtest/gtest.h>

#include <variant>

using namespace Qt::StringLiterals;

namespace rirudez {
namespace {

using Link = RirudezLocalPairingLink;
using Error = RirudezLocalPairingLink::Error;

QString fixture(const char *name) {
    QFile file(qEnvironmentVariable("RIRUDEZ_TEST_DATA") + u'/' + QLatin1String(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return QString::fromUtf8(file.readAll());
}

struct Parsed {
    const char16_t *host;
    std::int64_t port;
    const char16_t *code;
};

struct ParseCase {
    const char *name;
    QString text; // "@file" reads a fixture
    std::variant<Parsed, Error> expected;
};

std::ostream &operator<<(std::ostream &os, const ParseCase &c) {
    return os << c.name;
}

class LinkParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(LinkParseTest, ParsesOrReportsTheFirstFailingCheck) {
    const ParseCase &c = GetParam();
    const QString text = c.text.startsWith(u'@') ? fixture(c.text.mid(1).toUtf8().constData()) : c.text;
    if (const auto *expected = std::get_if<Parsed>(&c.expected)) {
        const Link link = Link::parse(text);
        EXPECT_EQ(link, Link(QString::fromUtf16(expected->host), expected->port,
                             QString::fromUtf16(expected->code)));
        // The same text as a URL value gives the same link.
        EXPECT_EQ(Link::parse(QUrl(text.trimmed())), link);
    } else {
        try {
            Link::parse(text);
            ADD_FAILURE() << "parsed";
        } catch (const Error &error) {
            EXPECT_EQ(error, std::get<Error>(c.expected))
                << error.diagnosticText().toStdString() << " vs "
                << std::get<Error>(c.expected).diagnosticText().toStdString();
        }
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Links, LinkParseTest, ::testing::Values(
    ParseCase{"lan fixture", u"@link-lan.txt"_s, Parsed{u"192.168.1.20", 8765, u"482913"}},
    ParseCase{"upper case, path, encoded values, first code", u"@link-encoded.txt"_s, Parsed{u"[::1]", 80, u"a&b=c"}},
    ParseCase{"surrounding whitespace, trimmed values", u"\n rirudez://local-pair?host=%20box.local%20&port=1&code=%09x%20 \t"_s, Parsed{u"box.local", 1, u"x"}},
    ParseCase{"query item names are case-sensitive", u"rirudez://local-pair?Host=a&code=1&port=2"_s, Error::missingHost()},
    ParseCase{"wrong scheme, no query", u"http://local-pair"_s, Error::invalidScheme(u"http"_s)},
    ParseCase{"scheme as written", u"Rirudez2://local-pair?host=a&code=b&port=1"_s, Error::invalidScheme(u"Rirudez2"_s)},
    ParseCase{"no scheme", u"local-pair?host=a&code=b&port=1"_s, Error::invalidScheme(std::nullopt)},
    ParseCase{"wrong route as written", u"rirudez://Pair?host=a&code=b&port=1"_s, Error::invalidRoute(u"Pair"_s)},
    ParseCase{"no route", u"rirudez:local-pair?host=a&code=b&port=1"_s, Error::invalidRoute(std::nullopt)},
    ParseCase{"not a URL", u"rirudez://local pair?host=a"_s, Error::invalidURLString()},
    ParseCase{"nothing but route", u"rirudez://local-pair"_s, Error::missingHost()},
    ParseCase{"blank host before missing code", u"rirudez://local-pair?host=%20%20&port=x"_s, Error::missingHost()},
    ParseCase{"host without value", u"rirudez://local-pair?host&code=1&port=2"_s, Error::missingHost()},
    ParseCase{"code before port", u"rirudez://local-pair?host=a&port=x"_s, Error::missingCode()},
    ParseCase{"blank first code wins over a later one", u"rirudez://local-pair?host=a&code=%20&code=2&port=3"_s, Error::missingCode()},
    ParseCase{"port missing", u"rirudez://local-pair?host=a&code=b"_s, Error::missingPort()},
    ParseCase{"port empty", u"rirudez://local-pair?host=a&code=b&port="_s, Error::missingPort()},
    ParseCase{"port with a leading space kept", u"rirudez://local-pair?host=a&code=b&port=%2080"_s, Error::invalidPort(u" 80"_s)},
    ParseCase{"port not decimal", u"rirudez://local-pair?host=a&code=b&port=0x50"_s, Error::invalidPort(u"0x50"_s)},
    ParseCase{"port sign only", u"rirudez://local-pair?host=a&code=b&port=-"_s, Error::invalidPort(u"-"_s)},
    ParseCase{"port beyond int64", u"rirudez://local-pair?host=a&code=b&port=9223372036854775808"_s, Error::invalidPort(u"9223372036854775808"_s)},
    ParseCase{"largest port value", u"rirudez://local-pair?host=a&code=b&port=9223372036854775807"_s, Parsed{u"a", 9223372036854775807, u"b"}},
    ParseCase{"port zero", u"rirudez://local-pair?host=a&code=b&port=0"_s, Error::nonPositivePort(0)},
    ParseCase{"port negative", u"rirudez://local-pair?host=a&code=b&port=-9223372036854775808"_s, Error::nonPositivePort(std::numeric_limits<std::int64_t>::min())}
));
// clang-format on

TEST(RirudezLocalPairingLinkTest, ConstructorChecksHostThenCodeThenPort) {
    const auto failure = [](const QString &host, std::int64_t port,
                            const QString &code) -> std::optional<Error> {
        try {
            Link(host, port, code);
        } catch (const Error &error) {
            return error;
        }
        return std::nullopt;
    };
    EXPECT_EQ(failure(u" "_s, 0, u""_s), Error::missingHost());
    EXPECT_EQ(failure(u"h"_s, 0, u"\n"_s), Error::missingCode());
    EXPECT_EQ(failure(u"h"_s, -3, u"c"_s), Error::nonPositivePort(-3));
    EXPECT_EQ(failure(u" h "_s, 1, u" c "_s), std::nullopt);
    EXPECT_EQ(Link(u" h "_s, 1, u" c "_s).host(), u"h"_s);
}

TEST(RirudezLocalPairingLinkTest, UrlReadsBackUnchanged) {
    const QList<Link> links{
        Link(u"192.168.1.20"_s, 8765, u"482913"_s),
        Link(u"fe80::1"_s, 80, u"a&b=c#d"_s),
        Link(u"my box.local"_s, 1, u"50% + more?/@:"_s),
        Link(u"Büro-Mac"_s, 9223372036854775807, u"код 7"_s),
    };
    for (const Link &link : links) {
        const QUrl url = link.url();
        ASSERT_TRUE(url.isValid()) << link.host().toStdString();
        EXPECT_EQ(url.scheme(), u"rirudez"_s);
        EXPECT_EQ(url.host(), u"local-pair"_s);
        EXPECT_TRUE(url.path().isEmpty());
        EXPECT_EQ(Link::parse(url), link) << url.toString().toStdString();
        EXPECT_EQ(Link::parse(url.toString(QUrl::FullyEncoded)), link);
    }
    EXPECT_EQ(links.first().url().toString(QUrl::FullyEncoded),
              u"rirudez://local-pair?host=192.168.1.20&port=8765&code=482913"_s);
}

TEST(RirudezLocalPairingLinkTest, BaseURLBracketsBareIPv6Hosts) {
    const struct {
        const char16_t *host;
        std::int64_t port;
        const char16_t *expected;
    } cases[] = {
        {u"::1", 80, u"http://[::1]:80"},
        {u"[::1]", 80, u"http://[::1]:80"},
        {u"fe80::1", 8765, u"http://[fe80::1]:8765"},
        {u"192.168.1.20", 8765, u"http://192.168.1.20:8765"},
        {u"studio.local", 1, u"http://studio.local:1"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Link(QString::fromUtf16(c.host), c.port, u"x"_s).localServerBaseURLString(),
                  QString::fromUtf16(c.expected));
}

} // namespace
} // namespace rirudez
