#include "DesktopBridgeActivityKind.h"

#include "rirudez/bridgekit/NameTable.h"

namespace rirudez {

namespace {

using Kind = DesktopBridgeActivityKind;

constexpr NameTable<Kind, 5> rawValues{{{{Kind::working, u"working"},
                                         {Kind::toolUse, u"toolUse"},
                                         {Kind::text, u"text"},
                                         {Kind::completed, u"completed"},
                                         {Kind::failed, u"failed"}}}};
constexpr NameTable<Kind, 5> systemImages{{{{Kind::working, u"progress.indicator"},
                                            {Kind::toolUse, u"wrench.and.screwdriver"},
                                            {Kind::text, u"text.bubble"},
                                            {Kind::completed, u"checkmark"},
                                            {Kind::failed, u"exclamationmark.triangle"}}}};
constexpr NameTable<Kind, 5> fallbackSummaries{{{{Kind::working, u"Working"},
                                                 {Kind::toolUse, u"Tool use"},
                                                 {Kind::text, u"Replied"},
                                                 {Kind::completed, u"Completed"},
                                                 {Kind::failed, u"Failed"}}}};

} // namespace

QString rawValue(DesktopBridgeActivityKind kind) {
    return rawValues.name(kind);
}

std::optional<DesktopBridgeActivityKind> desktopBridgeActivityKind(const QString &raw) {
    return rawValues.parse(raw);
}

QString systemImage(DesktopBridgeActivityKind kind) {
    return systemImages.name(kind);
}

QString fallbackSummary(DesktopBridgeActivityKind kind) {
    return fallbackSummaries.name(kind);
}

} // namespace rirudez
