// Randomized robustness of the decoders: every golden frame, mutated many ways with a fixed seed,
// must give a value or a DecodingError; never a crash, an exception or a hang (ASan/UBSan watch the
// rest). Values that do decode must be stable under re-encoding.
#include "WireFixtures.h"

#include "rirudez/bridgekit/BridgeJson.h"

#include <gtest/gtest.h>

#include <QDir>

#include <cctype>
#include <functional>
#include <random>

namespace {
using namespace rirudez;
using namespace Qt::StringLiterals;

struct Sample {
    QString folder;
    QString name;
    QByteArray bytes;
};

std::vector<Sample> goldenSamples() {
    std::vector<Sample> samples;
    for (const QString &folder : {u"bridge"_s, u"events"_s, u"client"_s}) {
        const QDir dir(fixtures::dataDirectory() + u"/frames/"_s + folder);
        for (const QString &file : dir.entryList({u"*.json"_s}, QDir::Files, QDir::Name)) {
            const QString name = file.chopped(5);
            samples.push_back({folder, name, fixtures::readFrame(folder, name)});
        }
    }
    return samples;
}

// Runs every decoder on the bytes; fails the test if one throws or returns an empty error text.
// Returns whether the bytes decoded as a bridge frame.
bool decodeEverything(const QByteArray &bytes, const std::string &what) {
    bool decodedFrame = false;
    try {
        const auto frame = decodeBridgeMessage(bytes);
        decodedFrame = frame.hasValue();
        if (!frame) {
            EXPECT_FALSE(frame.error().description.isEmpty()) << what;
        }

        const auto event = decodeRepoSessionEvent(bytes);
        if (event) {
            // A decoded event re-encodes to something that decodes to the same event.
            const auto again = decodeRepoSessionEvent(encodeRepoSessionEvent(*event));
            EXPECT_TRUE(again.hasValue()) << what;
            if (again) {
                EXPECT_EQ(*again, *event) << what;
            }
        } else {
            EXPECT_FALSE(event.error().description.isEmpty()) << what;
        }

        const auto health = decodeBridgeHealth(bytes);
        if (!health) {
            EXPECT_FALSE(health.error().description.isEmpty()) << what;
        }
    } catch (...) {
        ADD_FAILURE() << "a decoder threw on " << what;
    }
    return decodedFrame;
}

class Mutator {
public:
    explicit Mutator(std::uint64_t seed) : m_random(seed) {}

    std::size_t below(std::size_t bound) { return bound == 0 ? 0 : std::size_t(m_random() % bound); }

    QByteArray truncated(const QByteArray &bytes) {
        return bytes.left(qsizetype(below(std::size_t(bytes.size()))));
    }

    QByteArray flipped(QByteArray bytes) {
        for (std::size_t n = 1 + below(4); n > 0 && !bytes.isEmpty(); --n) {
            const auto at = qsizetype(below(std::size_t(bytes.size())));
            bytes[at] = char(bytes[at] ^ char(1u << below(8)));
        }
        return bytes;
    }

    QByteArray spliced(QByteArray bytes) {
        // clang-format off
        static const std::vector<QByteArray> inserts{
            "\xff", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\x80", "\xe2\x82", "\\ud800", "\\u00",
            "\x00", "\"", "\\", ",", "}", "]", ":", "{", "[", "null", "-", "1e999", "0x1", "NaN", "\t", "//",
        };
        // clang-format on
        const auto at = qsizetype(below(std::size_t(bytes.size()) + 1));
        bytes.insert(at, inserts[below(inserts.size())]);
        if (below(2) == 0 && bytes.size() > 2)
            bytes.remove(qsizetype(below(std::size_t(bytes.size()))), qsizetype(1 + below(8)));
        return bytes;
    }

    // Puts an invalid UTF-8 sequence right inside a string literal.
    QByteArray invalidUtf8InString(QByteArray bytes) {
        static const std::vector<QByteArray> sequences{
            "\xff", "\xc3\x28", "\xe0\x80\x80", "\xed\xbf\xbf", "\xf8\x88\x80\x80\x80", "\xc2"};
        std::vector<qsizetype> quotes;
        for (qsizetype i = 0; i < bytes.size(); ++i)
            if (bytes[i] == '"')
                quotes.push_back(i);
        if (quotes.empty())
            return bytes;
        bytes.insert(quotes[below(quotes.size())] + 1, sequences[below(sequences.size())]);
        return bytes;
    }

    // Replaces one number of the text with one that no 64-bit integer or double holds exactly.
    QByteArray hugeNumber(QByteArray bytes) {
        // clang-format off
        static const std::vector<QByteArray> numbers{
            "18446744073709551616", "-9223372036854775809", "99999999999999999999999999", "1e400", "-1",
            "1.5", "1E2", "0.0", "-0", "4294967296",
        };
        // clang-format on
        std::vector<qsizetype> digits;
        for (qsizetype i = 0; i < bytes.size(); ++i)
            if (std::isdigit(static_cast<unsigned char>(bytes[i])) && (i == 0 || bytes[i - 1] == ':'))
                digits.push_back(i);
        if (digits.empty())
            return bytes;
        qsizetype start = digits[below(digits.size())], end = start;
        while (end < bytes.size() &&
               (std::isdigit(static_cast<unsigned char>(bytes[end])) || bytes[end] == '.'))
            ++end;
        return bytes.replace(start, end - start, numbers[below(numbers.size())]);
    }

    // Wraps the whole frame, or a member of it, in many levels of arrays.
    QByteArray deeplyNested(const QByteArray &bytes) {
        const auto depth = qsizetype(60 + below(200));
        const auto colon = bytes.indexOf(':', qsizetype(below(std::size_t(bytes.size()))));
        if (colon < 0)
            return QByteArray(depth, '[') + bytes + QByteArray(depth, ']');
        QByteArray nested = bytes;
        nested.insert(colon + 1, QByteArray(depth, '['));
        const auto end = nested.indexOf(',', colon + 1 + depth);
        nested.insert(end < 0 ? nested.lastIndexOf('}') : end, QByteArray(depth, ']'));
        return nested;
    }

    // Replaces one value of the parsed frame with a value of another JSON type.
    QByteArray wrongType(const QByteArray &bytes) {
        auto parsed = wire::parse(bytes);
        if (!parsed)
            return bytes;
        Json root = std::move(*parsed);
        std::vector<Json *> nodes;
        std::function<void(Json &)> collect = [&](Json &node) {
            for (auto &child : node) {
                nodes.push_back(&child);
                if (child.is_structured())
                    collect(child);
            }
        };
        if (root.is_structured())
            collect(root);
        if (nodes.empty())
            return bytes;
        // clang-format off
        static const std::vector<Json> replacements{
            nullptr, true, false, 0, -1, 1.5, "", "unknown", Json::array(), Json::object(),
            Json::array({"a", 1}), Json::object({{"kind", "status"}}),
            std::numeric_limits<std::uint64_t>::max(),
        };
        // clang-format on
        *nodes[below(nodes.size())] = replacements[below(replacements.size())];
        return wire::dump(root);
    }

private:
    std::mt19937_64 m_random;
};

TEST(WireRobustness, MutatedGoldenFramesOnlyYieldValuesOrErrors) {
    const auto samples = goldenSamples();
    ASSERT_GE(samples.size(), 40u) << "the mutations start from the golden frames";
    Mutator mutate(0xf00d);
    struct Mutation {
        const char *label;
        std::function<QByteArray(const QByteArray &)> apply;
        bool neverDecodes; // the mutant is never a valid bridge frame
    };
    const std::vector<Mutation> mutations{
        {"truncated", [&](const QByteArray &b) { return mutate.truncated(b.trimmed()); }, true},
        {"invalid UTF-8", [&](const QByteArray &b) { return mutate.invalidUtf8InString(b); }, true},
        {"nested", [&](const QByteArray &b) { return mutate.deeplyNested(b); }, false},
        {"flipped", [&](const QByteArray &b) { return mutate.flipped(b); }, false},
        {"spliced", [&](const QByteArray &b) { return mutate.spliced(b); }, false},
        {"huge number", [&](const QByteArray &b) { return mutate.hugeNumber(b); }, false},
        {"wrong type", [&](const QByteArray &b) { return mutate.wrongType(b); }, false},
        {"wrong type twice", [&](const QByteArray &b) { return mutate.wrongType(mutate.wrongType(b)); },
         false},
    };
    for (const auto &sample : samples)
        for (const auto &[label, apply, neverDecodes] : mutations)
            for (int i = 0; i < 20; ++i) {
                const QByteArray mutant = apply(sample.bytes);
                const bool decoded = decodeEverything(mutant, sample.name.toStdString() + " " + label + ": " +
                                                                  mutant.toStdString());
                if (neverDecodes) {
                    EXPECT_FALSE(decoded)
                        << sample.name.toStdString() << " " << label << ": " << mutant.toStdString();
                }
            }
}

} // namespace
