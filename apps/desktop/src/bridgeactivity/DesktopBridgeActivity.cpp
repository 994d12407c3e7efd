#include "DesktopBridgeActivity.h"

#include <QStringList>

using namespace Qt::StringLiterals;

namespace rirudez {

std::optional<QString> DesktopBridgeActivity::cleanOptional(const std::optional<QString> &text) {
    if (!text)
        return std::nullopt;
    QString trimmed = text->trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    return trimmed;
}

QString DesktopBridgeActivity::displayTitle() const {
    const QString trimmed = summary.trimmed();
    return trimmed.isEmpty() ? fallbackSummary(kind) : trimmed;
}

QString DesktopBridgeActivity::contextLabel() const {
    QStringList parts;
    for (const std::optional<QString> &part : {projectID, agent, model})
        if (const std::optional<QString> clean = cleanOptional(part))
            parts.append(*clean);
    return parts.join(u" · "_s);
}

} // namespace rirudez
