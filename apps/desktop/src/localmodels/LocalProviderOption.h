#pragma once

// The AI provider the user picks on the local models screen. Its control-plane identifier is the companion
// provider's raw value ("claude", "openai_codex"), so the screen can compare it with what a server reports.

#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

namespace rirudez {

enum class LocalProviderOption { claude, codex };

// "claude" or "codex" (also the option's id).
QString rawValue(LocalProviderOption option);
std::optional<LocalProviderOption> localProviderOptionFromRaw(QStringView raw);
QString title(LocalProviderOption option);
QString subtitle(LocalProviderOption option);
QString controlPlaneIdentifier(LocalProviderOption option);
// The option a control plane names this way (exactly as the companion provider's raw values), if any.
std::optional<LocalProviderOption> localProviderOptionFromControlPlaneIdentifier(QStringView identifier);
// claude, then codex.
QList<LocalProviderOption> allLocalProviderOptions();

} // namespace rirudez
