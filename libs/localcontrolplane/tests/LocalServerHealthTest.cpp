// The health document and the small records: decoding outcomes as one table (fixtures and inline
// documents), encoding order and absent members, and the raw-value tables of the enumerations.

#include "rirudez/localcontrolplane/LocalServerHealth.h"

#include <QFile>

#include <gtest/gtest.h>

#include <variant>

using namespace Qt::StringLiterals;

namespace rirudez {

void PrintTo(const JsonDecodingError &error, std::ostream *os) {
    *os << error.diagnosticText().toStdString();
}

namespace {

using Kind = JsonDecodingError::Kind;

QByteArray fixture(const char *name) {
    QFile file(qEnvironmentVariable("RIRUDEZ_TEST_DATA") + u'/' + QLatin1String(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll().trimmed();
}

LocalServerHealth minimal() {
    return LocalServerHealth{u"ok"_s, u"companion"_s};
}

LocalServerHealth full() {
    return LocalServerHealth{u"ok"_s,
                             u"rirudez-local-server"_s,
                             true,
                             u"482913"_s,
                             u"openai_codex"_s,
                             true,
                             u"ada@example.org"_s,
                             CompanionTabletState::recent,
                             false,
                             2,
                             u"2026-03-01T09:30:00Z"_s,
                             u"0.1.0"_s,
                             QStringList{u"health"_s, u"pairing_code"_s},
                             -1,
                             std::numeric_limits<std::int64_t>::max()};
}

struct Failure {
    Kind kind;
    const char *key;
};

struct DecodeCase {
    const char *name;
    QByteArray json;
    std::variant<LocalServerHealth, Failure> expected;
};

std::ostream &operator<<(std::ostream &os, const DecodeCase &c) {
    return os << c.name;
}

class HealthDecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(HealthDecodeTest, DecodesOrFailsWithTheDecodersKindAndKey) {
    const DecodeCase &c = GetParam();
    const QByteArray json = c.json.startsWith("@") ? fixture(c.json.constData() + 1) : c.json;
    const DecodeResult<LocalServerHealth> decoded = LocalServerHealth::decode(json);
    if (const auto *expected = std::get_if<LocalServerHealth>(&c.expected)) {
        ASSERT_TRUE(decoded) << decoded.error().what();
        EXPECT_EQ(*decoded, *expected);
    } else {
        const Failure &failure = std::get<Failure>(c.expected);
        ASSERT_FALSE(decoded);
        EXPECT_EQ(decoded.error(), JsonDecodingError(failure.kind, QString::fromUtf8(failure.key), {}))
            << decoded.error().what();
    }
}

LocalServerHealth with(auto change) {
    LocalServerHealth health = minimal();
    change(health);
    return health;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Documents, HealthDecodeTest, ::testing::Values(
    DecodeCase{"minimal", "@health-minimal.json", minimal()},
    DecodeCase{"full", "@health-full.json", full()},
    DecodeCase{"nulls are absent", R"({"status":"ok","service":"companion","requires_pairing":null,"pairing_code":null,"provider":null,"provider_authenticated":null,"provider_account_label":null,"tablet_state":null,"tablet_connected":null,"active_clients_count":null,"last_client_seen_at":null,"version":null,"capabilities":null,"notebooks_count":null,"context_files_count":null})", minimal()},
    DecodeCase{"unknown keys ignored", R"({"extra":{"a":[[[[1]]]],"b":null},"status":"ok","Status":5,"service":"companion"})", minimal()},
    DecodeCase{"smallest int64", R"({"status":"ok","service":"companion","notebooks_count":-9223372036854775808})", with([](auto &h) { h.notebooksCount = std::numeric_limits<std::int64_t>::min(); })},
    DecodeCase{"empty capabilities", R"({"status":"ok","service":"companion","capabilities":[]})", with([](auto &h) { h.capabilities = QStringList(); })},
    DecodeCase{"status missing", R"({"service":"companion"})", Failure{Kind::keyNotFound, "status"}},
    DecodeCase{"service missing", R"({"status":"ok"})", Failure{Kind::keyNotFound, "service"}},
    DecodeCase{"both missing reports status", R"({"tablet_state":"offline"})", Failure{Kind::keyNotFound, "status"}},
    DecodeCase{"status null", R"({"status":null,"service":"companion"})", Failure{Kind::typeMismatch, "status"}},
    DecodeCase{"service number", R"({"status":"ok","service":7})", Failure{Kind::typeMismatch, "service"}},
    DecodeCase{"tablet state offline", R"({"status":"ok","service":"companion","tablet_state":"offline"})", Failure{Kind::dataCorrupted, "tablet_state"}},
    DecodeCase{"tablet state case", R"({"status":"ok","service":"companion","tablet_state":"Connected"})", Failure{Kind::dataCorrupted, "tablet_state"}},
    DecodeCase{"fractional count", R"({"status":"ok","service":"companion","active_clients_count":3.5})", Failure{Kind::typeMismatch, "active_clients_count"}},
    DecodeCase{"count above int64", R"({"status":"ok","service":"companion","active_clients_count":9223372036854775808})", Failure{Kind::typeMismatch, "active_clients_count"}},
    DecodeCase{"count above uint64", R"({"status":"ok","service":"companion","context_files_count":18446744073709551616})", Failure{Kind::typeMismatch, "context_files_count"}},
    DecodeCase{"count below int64", R"({"status":"ok","service":"companion","notebooks_count":-9223372036854775809})", Failure{Kind::typeMismatch, "notebooks_count"}},
    DecodeCase{"boolean as text", R"({"status":"ok","service":"companion","requires_pairing":"true"})", Failure{Kind::typeMismatch, "requires_pairing"}},
    DecodeCase{"capability not a string", R"({"status":"ok","service":"companion","capabilities":["health",1]})", Failure{Kind::typeMismatch, "capabilities"}},
    DecodeCase{"not an object", R"(["ok","companion"])", Failure{Kind::typeMismatch, ""}},
    DecodeCase{"not JSON", R"({"status":"ok",)", Failure{Kind::dataCorrupted, ""}},
    DecodeCase{"empty body", "", Failure{Kind::dataCorrupted, ""}}
));
// clang-format on

TEST(LocalServerHealthTest, EncodesInTableOrderWithoutAbsentMembers) {
    EXPECT_EQ(minimal().encode(), QByteArray(R"({"status":"ok","service":"companion"})"));
    // The full fixture is written in table order, so encoding gives it back byte for byte.
    EXPECT_EQ(full().encode(), fixture("health-full.json"));

    LocalServerHealth sparse = minimal();
    sparse.tabletState = CompanionTabletState::waiting;
    sparse.contextFilesCount = 0;
    EXPECT_EQ(
        sparse.encode(),
        QByteArray(
            R"({"status":"ok","service":"companion","tablet_state":"waiting","context_files_count":0})"));
    const auto back = LocalServerHealth::decode(sparse.encode());
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, sparse);
}

TEST(LocalServerHealthTest, PairingCodeResponseNeedsItsKey) {
    const PairingCodeResponse response{u"12 34"_s};
    EXPECT_EQ(response.encode(), QByteArray(R"({"pairing_code":"12 34"})"));
    const auto back = PairingCodeResponse::decode(response.encode());
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, response);
    const auto missing = PairingCodeResponse::decode(R"({"code":"1234"})");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error(), JsonDecodingError(Kind::keyNotFound, u"pairing_code"_s, {}));
}

TEST(LocalServerHealthTest, EnumerationsTravelAsTheirRawValuesOnly) {
    for (const CompanionTabletState state :
         {CompanionTabletState::connected, CompanionTabletState::recent, CompanionTabletState::waiting}) {
        const auto back = decodeCompanionTabletState(encode(state));
        ASSERT_TRUE(back);
        EXPECT_EQ(*back, state);
    }
    for (const ServerConnectionMode mode : allServerConnectionModes()) {
        const auto back = decodeServerConnectionMode(encode(mode));
        ASSERT_TRUE(back);
        EXPECT_EQ(*back, mode);
    }
    EXPECT_EQ(allServerConnectionModes(), (QList{ServerConnectionMode::cloud, ServerConnectionMode::local}));
    EXPECT_EQ(decodeServerConnectionMode(R"("remote")").error().kind(), Kind::dataCorrupted);
    EXPECT_EQ(decodeServerConnectionMode("1").error().kind(), Kind::typeMismatch);
    EXPECT_EQ(decodeCompanionTabletState(R"("offline")").error().kind(), Kind::dataCorrupted);

    EXPECT_EQ(allCompanionProviders(), (QList{CompanionProvider::claude, CompanionProvider::openAICodex}));
    for (const CompanionProvider provider : allCompanionProviders())
        EXPECT_EQ(companionProviderFromRaw(rawValue(provider)), provider);
    EXPECT_EQ(companionProviderFromRaw(u"openai_codex"), CompanionProvider::openAICodex);
    for (const QStringView other : {u"OpenAI_Codex", u"openai_codeX", u"Claude", u"codex", u""})
        EXPECT_EQ(companionProviderFromRaw(other), std::nullopt) << other.toString().toStdString();
}

} // namespace
} // namespace rirudez
