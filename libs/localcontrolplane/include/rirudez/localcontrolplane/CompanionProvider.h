#pragma once

// The small enumerations of the local control plane: the companion's AI provider, the tablet's connection
// state and how the companion is reached. Each has one table between its cases and their raw strings.

#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

namespace rirudez {

// The AI provider the companion uses. Its id is its raw value.
enum class CompanionProvider { claude, openAICodex };

QString rawValue(CompanionProvider provider);
// Exact, case-sensitive: "openai_codex" is openAICodex, "OpenAI_Codex" is nothing.
std::optional<CompanionProvider> companionProviderFromRaw(QStringView raw);
QString title(CompanionProvider provider);
QString subtitle(CompanionProvider provider);
// Every case, claude first.
QList<CompanionProvider> allCompanionProviders();

// The tablet's connection state as the health document reports it.
enum class CompanionTabletState { connected, recent, waiting };

QString rawValue(CompanionTabletState state);
std::optional<CompanionTabletState> companionTabletStateFromRaw(QStringView raw);

// How the companion is reached.
enum class ServerConnectionMode { cloud, local };

QString rawValue(ServerConnectionMode mode);
std::optional<ServerConnectionMode> serverConnectionModeFromRaw(QStringView raw);
QString displayName(ServerConnectionMode mode);
// Every case, cloud first.
QList<ServerConnectionMode> allServerConnectionModes();

} // namespace rirudez
