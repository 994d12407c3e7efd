#include "DesktopCodingAnswerBlocks.h"

namespace rirudez {

namespace {

bool isBlankLine(const QString &text, qsizetype start, qsizetype end) {
    for (qsizetype i = start; i < end; ++i)
        if (text[i] != u' ' && text[i] != u'\t' && text[i] != u'\r')
            return false;
    return true;
}

// A line that opens or closes a fenced code block: up to three spaces, then ``` or ~~~.
bool isFenceLine(const QString &text, qsizetype start) {
    qsizetype i = start;
    while (i < text.size() && i - start < 3 && text[i] == u' ')
        ++i;
    if (i + 3 > text.size())
        return false;
    const QChar mark = text[i];
    return (mark == u'`' || mark == u'~') && text[i + 1] == mark && text[i + 2] == mark;
}

} // namespace

DesktopCodingAnswerBlocks::DesktopCodingAnswerBlocks(QObject *parent) : QAbstractListModel(parent) {}

QList<DesktopCodingAnswerBlocks::Boundary>
DesktopCodingAnswerBlocks::boundariesAfter(const QString &text, qsizetype from, qsizetype maxBlockLength) {
    QList<Boundary> result;
    qsizetype blockStart = from;
    bool inFence = false;
    bool previousLineBlank = false;
    qsizetype lineStart = from;
    // A block cut after a sentence starts inside a line: no fence or paragraph starts there.
    const bool startsLine = from == 0 || text[from - 1] == u'\n';
    for (qsizetype i = from; i < text.size(); ++i) {
        const QChar c = text[i];
        if (i == lineStart && (i > from || startsLine)) {
            // A paragraph after a blank line starts a block (a fence line too: the fence is one block).
            if (!inFence && previousLineBlank && i > blockStart && c != u'\n' &&
                !isBlankLine(text, i, i + 1)) {
                result.append(Boundary{i, true});
                blockStart = i;
            }
            // A fence line is only known to be one once its marks are there; a shorter tail waits for them.
            if (isFenceLine(text, i))
                inFence = !inFence;
        }
        if (c == u'\n') {
            previousLineBlank = isBlankLine(text, lineStart, i);
            lineStart = i + 1;
            continue;
        }
        // A long paragraph is cut after a sentence: at the first letter of the next one.
        if (!inFence && i - blockStart >= maxBlockLength && i >= 2 && !c.isSpace() && text[i - 1] == u' ' &&
            (text[i - 2] == u'.' || text[i - 2] == u'!' || text[i - 2] == u'?')) {
            result.append(Boundary{i, false});
            blockStart = i;
        }
    }
    return result;
}

void DesktopCodingAnswerBlocks::setText(const QString &text) {
    if (text == m_text)
        return;
    if (text.startsWith(m_text)) {
        // Grown at its end: only the last block and what follows it change.
        const qsizetype last = m_blocks.size() - 1;
        m_text = text;
        const QList<Boundary> added = boundariesAfter(m_text, m_blocks[last].start, m_maxBlockLength);
        const QModelIndex changed = index(int(last));
        if (!added.isEmpty()) {
            beginInsertRows({}, int(m_blocks.size()), int(m_blocks.size() + added.size() - 1));
            m_blocks.append(added);
            endInsertRows();
        }
        Q_EMIT dataChanged(changed, changed, {TextRole});
    } else {
        beginResetModel();
        m_text = text;
        m_blocks = QList<Boundary>{Boundary{}} + boundariesAfter(m_text, 0, m_maxBlockLength);
        endResetModel();
    }
    Q_EMIT textChanged();
}

int DesktopCodingAnswerBlocks::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_blocks.size());
}

QString DesktopCodingAnswerBlocks::blockText(qsizetype block) const {
    const qsizetype start = m_blocks[block].start;
    const qsizetype end = block + 1 < m_blocks.size() ? m_blocks[block + 1].start : m_text.size();
    return m_text.mid(start, end - start);
}

QVariant DesktopCodingAnswerBlocks::data(const QModelIndex &index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case TextRole:
        return blockText(index.row());
    case StartsParagraphRole:
        return m_blocks[index.row()].startsParagraph;
    default:
        return {};
    }
}

QHash<int, QByteArray> DesktopCodingAnswerBlocks::roleNames() const {
    return {{TextRole, "blockText"}, {StartsParagraphRole, "startsParagraph"}};
}

} // namespace rirudez
