// Feeds arbitrary bytes to every decoder of the wire codec. A decoder may return a value or a
// DecodingError, nothing else; a decoded event must survive re-encoding unchanged.
#include "rirudez/bridgekit/BridgeMessages.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace rirudez;
    const QByteArrayView bytes(data, qsizetype(size));

    const auto frame = decodeBridgeMessage(bytes);
    if (!frame && frame.error().description.isEmpty())
        std::abort();

    const auto event = decodeRepoSessionEvent(bytes);
    if (event) {
        const auto again = decodeRepoSessionEvent(encodeRepoSessionEvent(*event));
        if (!again || !(*again == *event))
            std::abort();
    }

    (void)decodeBridgeHealth(bytes);
    return 0;
}
