// libFuzzer target for the local pairing link: any text either fails with a typed error or yields a link that
// keeps its promises (trimmed non-empty host and code, positive port), whose url() reads back as the same
// link and whose base URL is a valid HTTP URL when the host is a plain name.
#include "rirudez/localcontrolplane/RirudezLocalPairingLink.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace rirudez;

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

void exercise(const RirudezLocalPairingLink &link) {
    check(!link.host().isEmpty() && link.host() == link.host().trimmed());
    check(!link.pairingCode().isEmpty() && link.pairingCode() == link.pairingCode().trimmed());
    check(link.port() > 0);
    const QUrl url = link.url();
    check(url.isValid());
    check(RirudezLocalPairingLink::parse(url) == link);
    check(RirudezLocalPairingLink::parse(url.toString(QUrl::FullyEncoded)) == link);
    (void)link.localServerBaseURLString();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        exercise(RirudezLocalPairingLink::parse(text));
    } catch (const RirudezLocalPairingLink::Error &error) {
        (void)error.diagnosticText();
    }
    // The same text taken as the values of a link.
    try {
        const qsizetype third = text.size() / 3;
        exercise(RirudezLocalPairingLink(text.left(third), qint64(size) + 1, text.mid(third)));
    } catch (const RirudezLocalPairingLink::Error &) {
    }
    return 0;
}
