// Merging text already written on the pages into the conversation: `combinedInputs` and its fingerprints.

#include "rirudez/canvasreplay/ConversationHandwritingReplay.h"

#include "ReplayLayoutSteps.h"
#include "ReplayText.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace rirudez::ConversationHandwritingReplay {

QString normalizedPageTextFingerprint(const QString &text) {
    const QString lowered = ReplayText::lowercased(ReplayText::trimmed(text));
    QString fingerprint;
    fingerprint.reserve(lowered.size());
    bool spacePending = false;
    for (const QChar c : lowered) {
        if (ReplayText::isWhitespaceOrNewline(c)) {
            spacePending = !fingerprint.isEmpty();
            continue;
        }
        if (spacePending) {
            fingerprint += u' ';
            spacePending = false;
        }
        fingerprint += c;
    }
    return fingerprint;
}

PageTextFingerprintMap pageTextDeduplicationFingerprints(const std::vector<InputMessage> &messages) {
    PageTextFingerprintMap fingerprints;
    for (const InputMessage &message : messages) {
        if (message.role != MessageRole::user)
            continue;
        const QString fingerprint = normalizedPageTextFingerprint(message.text);
        if (fingerprint.isEmpty())
            continue;
        fingerprints[message.hintedPageIndex].insert(fingerprint);
        fingerprints[std::nullopt].insert(fingerprint);
    }
    return fingerprints;
}

bool isRedundantPageText(const QString &text, std::int64_t pageIndex,
                         const PageTextFingerprintMap &userMessageFingerprints) {
    const QString fingerprint = normalizedPageTextFingerprint(text);
    if (fingerprint.isEmpty())
        return true;

    std::set<QString> candidates;
    for (const std::optional<std::int64_t> key :
         {std::optional<std::int64_t>(pageIndex), std::optional<std::int64_t>()}) {
        const auto found = userMessageFingerprints.find(key);
        if (found != userMessageFingerprints.end())
            candidates.insert(found->second.begin(), found->second.end());
    }
    if (candidates.empty())
        return false;
    if (candidates.contains(fingerprint))
        return true;

    const auto covered = [&candidates](const QString &line) {
        return candidates.contains(line) ||
               std::any_of(candidates.begin(), candidates.end(), [&line](const QString &candidate) {
                   return candidate.contains(line) || line.contains(candidate);
               });
    };
    qsizetype from = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !ReplayText::isNewline(text.at(i)))
            continue;
        const QString line = normalizedPageTextFingerprint(text.sliced(from, i - from));
        from = i + 1;
        if (line.isEmpty())
            continue;
        if (!covered(line))
            return false;
    }
    return true; // every line covered, or no line at all
}

std::vector<InputMessage> combinedInputs(const std::vector<InputMessage> &messages,
                                         const std::map<std::int64_t, QString> &pageTexts) {
    std::vector<InputMessage> kept;
    kept.reserve(messages.size());
    std::copy_if(messages.begin(), messages.end(), std::back_inserter(kept),
                 [](const InputMessage &message) { return !ReplayText::isBlank(message.text); });
    const PageTextFingerprintMap fingerprints = pageTextDeduplicationFingerprints(kept);

    // Surviving page texts as messages, in ascending page order (the map's order).
    struct PageEntry {
        std::int64_t page;
        InputMessage message;
    };
    std::vector<PageEntry> entries;
    for (const auto &[page, rawText] : pageTexts) {
        QString text = ReplayText::trimmed(rawText);
        if (text.isEmpty() || isRedundantPageText(text, page, fingerprints))
            continue;
        entries.push_back({page, InputMessage{
                                     .id = u"page-text-"_s + QString::number(page),
                                     .role = MessageRole::user,
                                     .text = std::move(text),
                                     .hintedPageIndex = page,
                                     .anchorGlobalY = std::nullopt,
                                     .anchorX = std::nullopt,
                                     .anchorLineAdvance = std::nullopt,
                                     .renderAsSavedLine = false,
                                     .anchorLocalWidth = std::nullopt,
                                 }});
    }

    // Each page text goes before the first message whose effective page reaches its page. A message's
    // effective page is its hint, but never lower than the pages placed or hinted before it.
    std::vector<InputMessage> output;
    output.reserve(kept.size() + entries.size());
    auto next = entries.begin();
    std::int64_t floor = 0;
    for (InputMessage &message : kept) {
        const std::int64_t effective =
            message.hintedPageIndex ? std::max(floor, *message.hintedPageIndex) : floor;
        for (; next != entries.end() && next->page < effective; ++next) {
            output.push_back(std::move(next->message));
            floor = std::max(floor, next->page);
        }
        for (; next != entries.end() && next->page == effective; ++next) {
            output.push_back(std::move(next->message));
            floor = std::max(floor, effective);
        }
        output.push_back(std::move(message));
        floor = std::max(floor, effective);
    }
    for (; next != entries.end(); ++next)
        output.push_back(std::move(next->message));
    return output;
}

} // namespace rirudez::ConversationHandwritingReplay
