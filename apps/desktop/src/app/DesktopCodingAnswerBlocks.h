#pragma once

// A streamed answer cut into blocks that are laid out one by one, so that a growing answer only lays out its
// last block again. Blocks end where Markdown paragraphs end (a blank line outside a code fence) and, in a
// paragraph longer than `maxBlockLength`, after the first sentence end beyond that length. While the text
// grows at its end, earlier blocks never change: a boundary depends only on the text before it and the one
// character after it.

#include <QAbstractListModel>
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
        TextRole = Qt::UserRole + 1,
        // The block starts a paragraph (and is not the first): it is set off from the one before.
        StartsParagraphRole,
    };
    Q_ENUM(Role)

    static constexpr qsizetype defaultMaxBlockLength = 1200;

    explicit DesktopCodingAnswerBlocks(QObject *parent = nullptr);

    const QString &text() const { return m_text; }
    // A text that continues the current one grows the last block and may add blocks after it; any other
    // text rebuilds the blocks.
    void setText(const QString &text);
    void setMaxBlockLength(qsizetype length) { m_maxBlockLength = length; }

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;
    QString blockText(qsizetype block) const;

    struct Boundary {
        qsizetype start = 0;
        bool startsParagraph = false;
        bool operator==(const Boundary &) const = default;
    };
    // The starts of the blocks after the one that starts at `from` (a block start, so outside any code
    // fence), in order.
    static QList<Boundary> boundariesAfter(const QString &text, qsizetype from, qsizetype maxBlockLength);

Q_SIGNALS:
    void textChanged();

private:
    QString m_text;
    QList<Boundary> m_blocks{Boundary{}};
    qsizetype m_maxBlockLength = defaultMaxBlockLength;
};

} // namespace rirudez
