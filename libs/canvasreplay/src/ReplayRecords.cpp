#include "rirudez/canvasreplay/ReplayRecords.h"

using namespace Qt::StringLiterals;

namespace rirudez::ConversationHandwritingReplay {

QString rawValue(MessageRole role) {
    switch (role) {
    case MessageRole::user:
        return u"user"_s;
    case MessageRole::assistant:
        return u"assistant"_s;
    }
    return {};
}

std::optional<MessageRole> messageRoleFromRawValue(const QString &rawValue) {
    if (rawValue == u"user"_s)
        return MessageRole::user;
    if (rawValue == u"assistant"_s)
        return MessageRole::assistant;
    return std::nullopt;
}

double styleRawValue(MessageRole role) {
    switch (role) {
    case MessageRole::user:
        return 4.0;
    case MessageRole::assistant:
        return 5.0;
    }
    return 0;
}

} // namespace rirudez::ConversationHandwritingReplay
