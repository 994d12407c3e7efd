#pragma once

// For tests and benchmarks of the coding view model: the bridge lists one session of the first sample project
// (as its answer to a session-list request does) and the user selects the thread that mirrors it. Returns the
// listed summary, for later answers that list it again.

#include "DesktopCodingHarnessViewModel.h"

#include "rirudez/bridgekit/BridgeMessages.h"

#include <QString>

namespace rirudez::testing {

inline RepoSessionSummary listAndSelect(DesktopCodingHarnessViewModel &viewModel, const QString &sessionID,
                                        Agent agent = Agent::claude) {
    RepoSessionSummary summary;
    summary.sessionID = sessionID;
    summary.projectID = DesktopCodingHarnessViewModel::sampleProjects().constFirst().id;
    summary.agent = agent;
    summary.access = RepoAccessMode::edit;
    viewModel.handleBridgeMessage(
        BridgeMessage{BridgeMessage::RepoSessions{QStringLiteral("list"), {summary}}});
    viewModel.selectThread(sessionID);
    return summary;
}

} // namespace rirudez::testing
