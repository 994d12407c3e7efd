#include "DesktopCodingTaskFailure.h"

#include "DesktopCodingBridgeHealthSource.h"

#include "rirudez/bridgekit/BridgeClientError.h"

namespace rirudez {
using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(lcDesktopCoding, "rirudez.desktop.codingharness")

DesktopCodingTaskFailure DesktopCodingTaskFailure::describe(const std::exception_ptr &failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const BridgeKitError &e) {
        return {e.diagnosticText(), e.localizedDescription()};
    } catch (const DesktopCodingBridgeStateFileError &e) {
        return {e.diagnosticText(), e.localizedDescription()};
    } catch (const std::exception &e) {
        const QString text = QString::fromUtf8(e.what());
        return {text, text};
    } catch (...) {
        return {u"unknownError"_s, u"An unknown error occurred."_s};
    }
}

} // namespace rirudez
