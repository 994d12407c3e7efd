#pragma once

// Every fixed text of the conversation screen and the Bridges sheet, read by the QML files as the singleton
// HarnessLabels (HarnessLabels.retry, HarnessLabels.threadCountLine(3)), and the texts composed around a
// value. Texts that name a value of the model (agents, modes, thinking levels, event kinds) come from the
// model's own display names.

#include <QObject>
#include <QString>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

namespace rirudez {

class HarnessLabels : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    // The choices the screen lists, in order: the buttons at the top of the project rail ({symbol, title,
    // action}), the agents ({id, title, symbol}) and the runtime modes ({id, title, subtitle, symbol}).
    Q_PROPERTY(QVariantList railActions READ railActions CONSTANT)
    Q_PROPERTY(QVariantList agentOptions READ agentOptions CONSTANT)
    Q_PROPERTY(QVariantList runtimeModeOptions READ runtimeModeOptions CONSTANT)
    // The screen and its columns.
    Q_PROPERTY(QString projects MEMBER projects CONSTANT)
    Q_PROPERTY(QString controls MEMBER controls CONSTANT)
    Q_PROPERTY(QString retry MEMBER retry CONSTANT)
    // The session header.
    Q_PROPERTY(QString toggleProjects MEMBER toggleProjects CONSTANT)
    Q_PROPERTY(QString openShell MEMBER openShell CONSTANT)
    Q_PROPERTY(QString newThread MEMBER newThread CONSTANT)
    Q_PROPERTY(QString toggleControls MEMBER toggleControls CONSTANT)
    // The conversation.
    Q_PROPERTY(QString conversation MEMBER conversation CONSTANT)
    Q_PROPERTY(QString activity MEMBER activity CONSTANT)
    Q_PROPERTY(QString noMessages MEMBER noMessages CONSTANT)
    Q_PROPERTY(QString noMessagesHint MEMBER noMessagesHint CONSTANT)
    Q_PROPERTY(QString delivered MEMBER delivered CONSTANT)
    Q_PROPERTY(QString approve MEMBER approve CONSTANT)
    Q_PROPERTY(QString deny MEMBER deny CONSTANT)
    Q_PROPERTY(QString transcript MEMBER transcript CONSTANT)
    Q_PROPERTY(QString imageCrop MEMBER imageCrop CONSTANT)
    Q_PROPERTY(QString showImageCrop MEMBER showImageCrop CONSTANT)
    Q_PROPERTY(QString showTranscript MEMBER showTranscript CONSTANT)
    // The composer and its pickers.
    Q_PROPERTY(QString modelPicker MEMBER modelPicker CONSTANT)
    Q_PROPERTY(QString effortPicker MEMBER effortPicker CONSTANT)
    Q_PROPERTY(QString promptPlaceholder MEMBER promptPlaceholder CONSTANT)
    Q_PROPERTY(QString prompt MEMBER prompt CONSTANT)
    Q_PROPERTY(QString attach MEMBER attach CONSTANT)
    Q_PROPERTY(QString defaultModel MEMBER defaultModel CONSTANT)
    Q_PROPERTY(QString send MEMBER send CONSTANT)
    Q_PROPERTY(QString stop MEMBER stop CONSTANT)
    Q_PROPERTY(QString close MEMBER close CONSTANT)
    // The inspector.
    Q_PROPERTY(QString collapseControls MEMBER collapseControls CONSTANT)
    Q_PROPERTY(QString agentSection MEMBER agentSection CONSTANT)
    Q_PROPERTY(QString modelSection MEMBER modelSection CONSTANT)
    Q_PROPERTY(QString modeSection MEMBER modeSection CONSTANT)
    Q_PROPERTY(QString thinkSection MEMBER thinkSection CONSTANT)
    Q_PROPERTY(QString web MEMBER web CONSTANT)
    Q_PROPERTY(QString requestSection MEMBER requestSection CONSTANT)
    // The project rail.
    Q_PROPERTY(QString collapseProjects MEMBER collapseProjects CONSTANT)
    Q_PROPERTY(QString searchThreads MEMBER searchThreads CONSTANT)
    Q_PROPERTY(QString noThreadsMatch MEMBER noThreadsMatch CONSTANT)
    Q_PROPERTY(QString pinnedSection MEMBER pinnedSection CONSTANT)
    Q_PROPERTY(QString bridge MEMBER bridge CONSTANT)
    Q_PROPERTY(QString localBridge MEMBER localBridge CONSTANT)
    Q_PROPERTY(QString turns MEMBER turns CONSTANT)
    Q_PROPERTY(QString newActivity MEMBER newActivity CONSTANT)
    // The Bridges sheet.
    Q_PROPERTY(QString bridges MEMBER bridges CONSTANT)
    Q_PROPERTY(QString done MEMBER done CONSTANT)
    Q_PROPERTY(QString thisComputer MEMBER thisComputer CONSTANT)
    Q_PROPERTY(QString localBridgeAddress MEMBER localBridgeAddress CONSTANT)
    Q_PROPERTY(QString localBridgeDetail MEMBER localBridgeDetail CONSTANT)
    Q_PROPERTY(QString pairedBridges MEMBER pairedBridges CONSTANT)
    Q_PROPERTY(QString noPairedBridges MEMBER noPairedBridges CONSTANT)
    Q_PROPERTY(QString inUse MEMBER inUse CONSTANT)
    Q_PROPERTY(QString use MEMBER use CONSTANT)
    Q_PROPERTY(QString remove MEMBER remove CONSTANT)
    Q_PROPERTY(QString pairABridge MEMBER pairABridge CONSTANT)
    Q_PROPERTY(QString pairHint MEMBER pairHint CONSTANT)
    Q_PROPERTY(QString pairLinkPlaceholder MEMBER pairLinkPlaceholder CONSTANT)
    Q_PROPERTY(QString pair MEMBER pair CONSTANT)
    Q_PROPERTY(QString scanQrCode MEMBER scanQrCode CONSTANT)
    Q_PROPERTY(QString stopScanning MEMBER stopScanning CONSTANT)
    Q_PROPERTY(QString openImage MEMBER openImage CONSTANT)
    Q_PROPERTY(QString dropImageHint MEMBER dropImageHint CONSTANT)
    Q_PROPERTY(QString onThisNetwork MEMBER onThisNetwork CONSTANT)
    Q_PROPERTY(QString code MEMBER code CONSTANT)
    Q_PROPERTY(QString byAddress MEMBER byAddress CONSTANT)
    Q_PROPERTY(QString addressPlaceholder MEMBER addressPlaceholder CONSTANT)
    Q_PROPERTY(QString pairWithCode MEMBER pairWithCode CONSTANT)
    Q_PROPERTY(QString openImageTitle MEMBER openImageTitle CONSTANT)
    Q_PROPERTY(QString imageFilter MEMBER imageFilter CONSTANT)

public:
    // What a button at the top of the project rail does.
    enum class RailAction { none, newChat, search };
    Q_ENUM(RailAction)

    explicit HarnessLabels(QObject *parent = nullptr) : QObject(parent) {}

    static QVariantList railActions();
    static QVariantList agentOptions();
    static QVariantList runtimeModeOptions();
    // The chip symbol of an agent ("c.circle" for claude, the code brackets otherwise).
    static QString agentSymbol(const QString &agent);

    // "Zad Ezarur is not reachable: <reason>".
    Q_INVOKABLE static QString bridgeUnreachable(const QString &reason);
    // The rail's search results: "1 thread", "<n> threads".
    Q_INVOKABLE static QString threadCountLine(int count);
    // "Fingerprint <fingerprint>".
    Q_INVOKABLE static QString fingerprintLine(const QString &fingerprint);
    // A bridge seen on the network: its fingerprint line or "No fingerprint announced", then "  ·  paired"
    // when it is paired already.
    Q_INVOKABLE static QString discoveredBridgeDetail(const QString &fingerprint, bool paired);
    // "Code shown by “<name>”".
    Q_INVOKABLE static QString codeShownBy(const QString &bridgeName);

    // The screen and its columns.
    const QString projects = QStringLiteral("Projects");
    const QString controls = QStringLiteral("Controls");
    const QString retry = QStringLiteral("Retry");
    // The session header.
    const QString toggleProjects = QStringLiteral("Toggle projects");
    const QString openShell = QStringLiteral("Open the shell: timeline, canvas and activity (Ctrl+Shift+K)");
    const QString newThread = QStringLiteral("New thread");
    const QString toggleControls = QStringLiteral("Toggle controls");
    // The conversation.
    const QString conversation = QStringLiteral("Coding session conversation");
    const QString activity = QStringLiteral("ACTIVITY");
    const QString noMessages = QStringLiteral("No messages yet");
    const QString noMessagesHint = QStringLiteral("Start a repo conversation from this Mac or the iPad.");
    const QString delivered = QStringLiteral("Delivered");
    const QString approve = QStringLiteral("Approve");
    const QString deny = QStringLiteral("Deny");
    const QString transcript = QStringLiteral("Transcript");
    const QString imageCrop = QStringLiteral("iPad crop");
    const QString showImageCrop = QStringLiteral("Show iPad crop");
    const QString showTranscript = QStringLiteral("Show transcribed text");
    // The composer and its pickers.
    const QString modelPicker = QStringLiteral("Model");
    const QString effortPicker = QStringLiteral("Effort");
    const QString promptPlaceholder = QStringLiteral("Ask for a change in this repository");
    const QString prompt = QStringLiteral("Prompt");
    const QString attach = QStringLiteral("Attach");
    const QString defaultModel = QStringLiteral("Default");
    const QString send = QStringLiteral("Send");
    const QString stop = QStringLiteral("Stop");
    const QString close = QStringLiteral("Close");
    // The inspector.
    const QString collapseControls = QStringLiteral("Collapse controls");
    const QString agentSection = QStringLiteral("AGENT");
    const QString modelSection = QStringLiteral("MODEL");
    const QString modeSection = QStringLiteral("MODE");
    const QString thinkSection = QStringLiteral("THINK");
    const QString web = QStringLiteral("Web");
    const QString requestSection = QStringLiteral("REQUEST");
    // The project rail.
    const QString collapseProjects = QStringLiteral("Collapse projects");
    const QString searchThreads = QStringLiteral("Search threads");
    const QString noThreadsMatch = QStringLiteral("No threads match.");
    const QString pinnedSection = QStringLiteral("Pinned");
    const QString bridge = QStringLiteral("Bridge");
    const QString localBridge = QStringLiteral("Local");
    const QString turns = QStringLiteral("Turns");
    const QString newActivity = QStringLiteral("New activity");
    // The Bridges sheet.
    const QString bridges = QStringLiteral("Bridges");
    const QString done = QStringLiteral("Done");
    const QString thisComputer = QStringLiteral("This computer");
    const QString localBridgeAddress = QStringLiteral("127.0.0.1:8800");
    const QString localBridgeDetail = QStringLiteral("Token and fingerprint from the bridge’s state folder");
    const QString pairedBridges = QStringLiteral("Paired bridges");
    const QString noPairedBridges = QStringLiteral("None yet. Pair a bridge on another computer below.");
    const QString inUse = QStringLiteral("In use");
    const QString use = QStringLiteral("Use");
    const QString remove = QStringLiteral("Remove");
    const QString pairABridge = QStringLiteral("Pair a bridge");
    const QString pairHint = QStringLiteral("Paste the pair link the bridge shows, scan or open its QR code, "
                                            "pick it on this network, or type its address and pairing code.");
    const QString pairLinkPlaceholder = QStringLiteral("doduzadod://pair?host=…");
    const QString pair = QStringLiteral("Pair");
    const QString scanQrCode = QStringLiteral("Scan QR code");
    const QString stopScanning = QStringLiteral("Stop scanning");
    const QString openImage = QStringLiteral("Open image…");
    const QString dropImageHint = QStringLiteral("or drop an image here");
    const QString onThisNetwork = QStringLiteral("On this network");
    const QString code = QStringLiteral("Code");
    const QString byAddress = QStringLiteral("By address");
    const QString addressPlaceholder = QStringLiteral("Address, e.g. 192.168.1.20:8800");
    const QString pairWithCode = QStringLiteral("Pair with code");
    const QString openImageTitle = QStringLiteral("Open an image of the bridge’s QR code");
    const QString imageFilter = QStringLiteral("Images (*.png *.jpg *.jpeg *.bmp *.gif *.webp)");
};

} // namespace rirudez
