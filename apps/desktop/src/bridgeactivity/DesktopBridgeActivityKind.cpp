#include "DesktopBridgeActivityKind.h"

using namespace Qt::StringLiterals;

namespace rirudez {

QString rawValue(DesktopBridgeActivityKind kind) {
    switch (kind) {
    case DesktopBridgeActivityKind::working:
        return u"working"_s;
    case DesktopBridgeActivityKind::toolUse:
        return u"toolUse"_s;
    case DesktopBridgeActivityKind::text:
        return u"text"_s;
    case DesktopBridgeActivityKind::completed:
        return u"completed"_s;
    case DesktopBridgeActivityKind::failed:
        return u"failed"_s;
    }
    return {};
}

std::optional<DesktopBridgeActivityKind> desktopBridgeActivityKind(const QString &raw) {
    for (DesktopBridgeActivityKind kind : allDesktopBridgeActivityKinds)
        if (rawValue(kind) == raw)
            return kind;
    return std::nullopt;
}

QString systemImage(DesktopBridgeActivityKind kind) {
    switch (kind) {
    case DesktopBridgeActivityKind::working:
        return u"progress.indicator"_s;
    case DesktopBridgeActivityKind::toolUse:
        return u"wrench.and.screwdriver"_s;
    case DesktopBridgeActivityKind::text:
        return u"text.bubble"_s;
    case DesktopBridgeActivityKind::completed:
        return u"checkmark"_s;
    case DesktopBridgeActivityKind::failed:
        return u"exclamationmark.triangle"_s;
    }
    return {};
}

QString fallbackSummary(DesktopBridgeActivityKind kind) {
    switch (kind) {
    case DesktopBridgeActivityKind::working:
        return u"Working"_s;
    case DesktopBridgeActivityKind::toolUse:
        return u"Tool use"_s;
    case DesktopBridgeActivityKind::text:
        return u"Replied"_s;
    case DesktopBridgeActivityKind::completed:
        return u"Completed"_s;
    case DesktopBridgeActivityKind::failed:
        return u"Failed"_s;
    }
    return {};
}

} // namespace rirudez
