#include "DesktopCanvasReplayRole.h"

using namespace Qt::StringLiterals;

namespace rirudez {

double rawStyleCode(DesktopCanvasReplayRole role) {
    return role == DesktopCanvasReplayRole::user ? ConversationHandwritingReplay::styleRawValue(
                                                       ConversationHandwritingReplay::MessageRole::user)
                                                 : ConversationHandwritingReplay::styleRawValue(
                                                       ConversationHandwritingReplay::MessageRole::assistant);
}

QString displayLabel(DesktopCanvasReplayRole role) {
    return role == DesktopCanvasReplayRole::user ? u"You"_s : u"Agent"_s;
}

QColor inkColor(DesktopCanvasReplayRole role) {
    return role == DesktopCanvasReplayRole::user ? QColor(0x1e, 0x40, 0x9a) : QColor(0x0b, 0x57, 0x4d);
}

} // namespace rirudez
