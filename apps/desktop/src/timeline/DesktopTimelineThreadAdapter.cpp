#include "DesktopTimelineThreadAdapter.h"

using namespace Qt::StringLiterals;

namespace rirudez::DesktopTimelineThreadAdapter {

DesktopTimelineHistory history(const DesktopCodingThread &thread) {
    QList<DesktopTimelineTurn> turns;
    bool textInTurn = false;
    bool lastWasText = false;     // the last event a turn shows was assistant text
    bool previousWasText = false; // the event just before was assistant text
    for (const DesktopCodingEvent &event : thread.session.events) {
        const bool isText = event.kind == DesktopCodingEventKind::assistantText;
        switch (event.kind) {
        case DesktopCodingEventKind::userMessage: {
            DesktopTimelineTurn turn{event.id, DesktopTimelineRole::user, event.summary, event.createdAt, {},
                                     {}};
            for (const DesktopCodingTurnImage &image : event.images)
                turn.artifacts.append({image.id, DesktopTimelineArtifactKind::image, u"Image"_s});
            turns.append(std::move(turn));
            textInTurn = false;
            break;
        }
        case DesktopCodingEventKind::assistantText:
            if (lastWasText && !turns.isEmpty())
                turns.last().content += previousWasText ? event.summary : u"\n\n"_s + event.summary;
            else
                turns.append(
                    {event.id, DesktopTimelineRole::assistant, event.summary, event.createdAt, {}, {}});
            textInTurn = true;
            break;
        case DesktopCodingEventKind::completed:
            if (!textInTurn)
                turns.append(
                    {event.id, DesktopTimelineRole::assistant, event.summary, event.createdAt, {}, {}});
            textInTurn = false;
            break;
        case DesktopCodingEventKind::createdFile:
            if (turns.isEmpty())
                turns.append({event.id, DesktopTimelineRole::assistant, QString(), event.createdAt, {}, {}});
            turns.last().artifacts.append({event.id, DesktopTimelineArtifactKind::file, event.summary});
            break;
        default:
            break;
        }
        previousWasText = isText;
        if (isText || event.kind == DesktopCodingEventKind::userMessage ||
            event.kind == DesktopCodingEventKind::completed)
            lastWasText = isText;
    }
    return DesktopTimelineHistory(std::move(turns));
}

} // namespace rirudez::DesktopTimelineThreadAdapter
