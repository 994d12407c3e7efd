#include "DesktopCodingEventTranslator.h"

#include <QStringList>

#include <type_traits>
#include <variant>

namespace rirudez {
using namespace Qt::StringLiterals;

namespace {

const QStringList promptSectionTitles{
    u"Selected Zad Ezarur project"_s, u"User text"_s,          u"User turn"_s, u"Learner profile"_s,
    u"Prior notebook context"_s,      u"Recent conversation"_s};

} // namespace

DesktopCodingEventTranslation
DesktopCodingEventTranslator::translate(const RepoSessionEvent &event, const QString &sessionID,
                                        std::uint64_t sequence, const QString &threadID,
                                        const RepoSessionProjection &projection, const QDateTime &now) {
    const QString key = RepoSessionProjection::frameKey(sessionID, sequence);
    DesktopCodingEventTranslation out;
    const auto row = [&](DesktopCodingEventKind kind, QString summary, std::optional<QString> detail = {},
                         QList<DesktopCodingTurnImage> images = {}) {
        out.row =
            DesktopCodingEvent(key, kind, std::move(summary), std::move(detail), std::move(images), now);
    };
    std::visit(
        [&](const auto &value) {
            using Case = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<Case, RepoSessionEvent::SessionOpened>) {
                row(DesktopCodingEventKind::status, u"Bridge confirmed session"_s);
            } else if constexpr (std::is_same_v<Case, RepoSessionEvent::SessionUpdated>) {
                out.sessionUpdated = value.session;
                row(DesktopCodingEventKind::status, u"Bridge updated runtime settings"_s,
                    settingsSummary(value.session));
            } else if constexpr (std::is_same_v<Case, RepoSessionEvent::UserMessage>) {
                const QString shown = displayPrompt(value.prompt);
                out.retitleFrom = shown;
                out.userMessageID = value.messageID;
                QList<DesktopCodingTurnImage> images;
                for (const TurnImage &image : value.images)
                    images.append(DesktopCodingTurnImage(image));
                row(DesktopCodingEventKind::userMessage, shown, std::nullopt, std::move(images));
            } else if constexpr (std::is_same_v<Case, RepoSessionEvent::Status>) {
                row(DesktopCodingEventKind::status, u"Bridge turn "_s + rawValue(value.state));
                out.endsSending = value.state == TurnState::done || value.state == TurnState::cancelled;
            } else if constexpr (std::is_same_v<Case, RepoSessionEvent::AssistantText>) {
                if (projection.entries().isEmpty())
                    return;
                const RepoSessionProjection::Entry &entry = projection.entries().last();
                if (const auto *text = entry.event.as<RepoSessionEvent::AssistantText>())
                    out.assistantText = DesktopCodingAssistantTextRow{
                        entry.id, text->text, value.text,
                        projection.lastChange() == RepoSessionProjection::Change::extended};
            } else if constexpr (std::is_same_v<Case, RepoSessionEvent::ToolUse>) {
                row(DesktopCodingEventKind::toolUse, value.name);
            } else if constexpr (std::is_same_v<Case, RepoSessionEvent::ApprovalRequested>) {
                out.approvalAdded =
                    DesktopCodingPendingApproval::make(sessionID, value.approvalID, value.messageID,
                                                       value.method, value.summary, threadID, key, now);
                row(DesktopCodingEventKind::approval, value.summary, value.method);
            } else if constexpr (std::is_same_v<Case, RepoSessionEvent::ApprovalResolved>) {
                out.approvalResolved = value.approvalID;
                row(DesktopCodingEventKind::status, u"Approval "_s + rawValue(value.decision));
            } else if constexpr (std::is_same_v<Case, RepoSessionEvent::CreatedFile>) {
                QStringList parts;
                for (const std::optional<QString> &part :
                     {value.file.fileName, value.file.kind, value.file.mimeType})
                    if (part && !part->trimmed().isEmpty())
                        parts.append(*part);
                row(DesktopCodingEventKind::createdFile, value.file.title, parts.join(u" · "_s));
            } else if constexpr (std::is_same_v<Case, RepoSessionEvent::Result>) {
                out.retitleFrom = value.text;
                const QString text = value.text.trimmed();
                row(DesktopCodingEventKind::completed, text.isEmpty() ? u"Completed"_s : text,
                    value.usage ? std::optional<QString>(usageSummary(*value.usage)) : std::nullopt);
                out.endsSending = true;
            } else if constexpr (std::is_same_v<Case, RepoSessionEvent::Error>) {
                row(DesktopCodingEventKind::failed, value.message);
                out.endsSending = true;
            }
        },
        event.value);
    return out;
}

QString DesktopCodingEventTranslator::displayPrompt(const QString &forBridgePrompt) {
    const QString prompt = forBridgePrompt.trimmed();
    if (const std::optional<QString> text = compiledPromptSection(u"User text"_s, prompt))
        return *text;
    if (const std::optional<QString> turn = compiledPromptSection(u"User turn"_s, prompt))
        return *turn;
    return prompt;
}

std::optional<QString> DesktopCodingEventTranslator::compiledPromptSection(const QString &title,
                                                                           const QString &prompt) {
    const QString marker = title + u':';
    const qsizetype start = prompt.indexOf(marker);
    if (start < 0)
        return std::nullopt;
    QString rest = prompt.mid(start + marker.size());
    if (rest.startsWith(u'\n'))
        rest.remove(0, 1);
    qsizetype end = rest.size();
    for (const QString &other : promptSectionTitles) {
        if (other == title)
            continue;
        const qsizetype at = rest.indexOf(u"\n\n"_s + other + u':');
        if (at >= 0 && at < end)
            end = at;
    }
    return nilIfEmpty(rest.left(end));
}

QString DesktopCodingEventTranslator::usageSummary(const TokenUsage &usage) {
    QStringList parts;
    const auto add = [&](const QString &label, const std::optional<std::uint64_t> &count) {
        if (count)
            parts.append(label + QString::number(*count));
    };
    add(u"input "_s, usage.inputTokens);
    add(u"output "_s, usage.outputTokens);
    add(u"reasoning "_s, usage.reasoningTokens);
    add(u"total "_s, usage.totalTokens);
    return parts.join(u" · "_s);
}

QString DesktopCodingEventTranslator::settingsSummary(const RepoSessionSummary &session) {
    QStringList settings{rawValue(session.access)};
    if (session.permissionMode)
        settings.append(rawValue(*session.permissionMode));
    if (session.thinkingEffort)
        settings.append(rawValue(*session.thinkingEffort));
    if (session.model)
        settings.append(*session.model);
    return settings.join(u" · "_s);
}

} // namespace rirudez
