#pragma once

// A streamed answer cut into blocks that are laid out one by one, so that a growing answer lays out only its
// last block again (a 90,000-character answer laid out as one Markdown text costs a whole frame and more on
// every update). Blocks start where Markdown paragraphs start (after a blank line outside a code fence) and,
// in a paragraph longer than `maxBlockLength`, at the first sentence after that length that starts outside
// any code span, emphasis or link. A block that starts inside a paragraph shows on a new line; its text
// escapes a leading mark that Markdown would read as a list, heading or quote. While the text grows at its
// end, earlier blocks never change: a cut depends only on the text before it and the character it falls on.

#include <QAbstractListModel>
#include <QByteArray>
#include <QList>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace rirudez {

class DesktopCodingAnswerBlocks : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString text READ text WRITE setText NOTIFY textChanged)
public:
    enum Role {
        TextRole = Qt::UserRole + 1, // the block's Markdown
        // The block starts a paragraph (and is not the first): it is set off from the one before.
        StartsParagraphRole,
    };
    Q_ENUM(Role)

    static constexpr qsizetype defaultMaxBlockLength = 1200;

    explicit DesktopCodingAnswerBlocks(QObject *parent = nullptr);

    const QString &text() const { return m_text; }
    // A text that continues the current one changes the last block and may add blocks after it; any other
    // text rebuilds the blocks.
    void setText(const QString &text);
    void setMaxBlockLength(qsizetype length) { m_maxBlockLength = length; }
    // Takes the text of `row` in `model` (its role named `roleName`; no row or no model: no text) without
    // handing it through the QML engine: a streamed answer of tens of thousands of characters copied into a
    // script string on every update keeps the engine's collector busy, and each collection stalls a frame.
    Q_INVOKABLE void takeText(QAbstractItemModel *model, int row, const QByteArray &roleName);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;
    // The block's Markdown as it is shown.
    QString blockText(qsizetype block) const;

    struct Boundary {
        qsizetype start = 0;
        bool startsParagraph = false;
        bool operator==(const Boundary &) const = default;
    };
    // The starts of the blocks after the one that starts at `from` (a block start, outside any code fence),
    // in order.
    static QList<Boundary> boundariesAfter(const QString &text, qsizetype from, qsizetype maxBlockLength);

Q_SIGNALS:
    void textChanged();

private:
    QString m_text;
    QList<Boundary> m_blocks{Boundary{}};
    qsizetype m_maxBlockLength = defaultMaxBlockLength;
};

} // namespace rirudez
