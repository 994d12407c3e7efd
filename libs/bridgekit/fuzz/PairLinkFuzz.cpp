// libFuzzer target for the pair-link parser: any text either yields nothing or a pairing that keeps the
// link's promises (a usable port, a host and a token, a lower-case fingerprint), and a pairing whose values
// need no escaping reads back from its own link unchanged.
#include "rirudez/bridgekit/Pairing.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace rirudez;
using namespace Qt::StringLiterals;

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

// True when every character of the value can stand in a link unescaped and cannot end or split a query item.
bool needsNoEscaping(const QString &value) {
    for (const QChar c : value) {
        const bool unreserved = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                                (c >= u'0' && c <= u'9') || c == u'-' || c == u'.' || c == u'_' || c == u'~';
        if (!unreserved)
            return false;
    }
    return true;
}

void exercise(const QString &text, const std::optional<QString> &appScheme) {
    const auto pairing = Pairing::parse(text, appScheme);
    if (!pairing)
        return;
    check(pairing->port >= 1 && pairing->port <= 65535);
    check(!pairing->host.isEmpty());
    check(!pairing->token.isEmpty());
    check(!pairing->fp || (!pairing->fp->isEmpty() && *pairing->fp == pairing->fp->toLower()));
    check(pairing->description() == pairing->host + u':' + QString::number(pairing->port));
    (void)pairing->wsURL();
    (void)pairing->httpBase();

    if (needsNoEscaping(pairing->host) && needsNoEscaping(pairing->token) &&
        (!pairing->fp || needsNoEscaping(*pairing->fp))) {
        const QString link = pairing->url(Pairing::canonicalScheme.toString());
        check(Pairing::parse(link) == pairing);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    exercise(text, std::nullopt);
    exercise(text, u"myapp"_s);
    return 0;
}
