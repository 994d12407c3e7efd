#pragma once

// Draws the images attached to a user turn for the user-turn card: `image://turnimage/<event id>/<index>`
// decodes the PNG of that image of that event of the visible session. Called on the UI thread (the card
// loads its images synchronously), where the view model lives.

#include <QPointer>
#include <QQuickImageProvider>

namespace rirudez {

class DesktopCodingHarnessViewModel;

class TurnImageProvider : public QQuickImageProvider {
public:
    explicit TurnImageProvider(DesktopCodingHarnessViewModel *viewModel);
    QImage requestImage(const QString &id, QSize *size, const QSize &requestedSize) override;

private:
    QPointer<DesktopCodingHarnessViewModel> m_viewModel;
};

} // namespace rirudez
