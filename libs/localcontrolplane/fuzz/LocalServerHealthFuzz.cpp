// libFuzzer target for the health document decoder: any bytes either fail with a typed error or decode to a
// document whose encoding decodes back to the same document (and encodes to the same bytes).
#include "rirudez/localcontrolplane/LocalServerHealth.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace rirudez;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const DecodeResult<LocalServerHealth> health = LocalServerHealth::decode(bytes);
    if (!health) {
        (void)health.error().diagnosticText();
        return 0;
    }
    const QByteArray encoded = health->encode();
    const DecodeResult<LocalServerHealth> back = LocalServerHealth::decode(encoded);
    if (!back || !(*back == *health) || back->encode() != encoded)
        std::abort();
    (void)PairingCodeResponse::decode(bytes);
    return 0;
}
