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

// What is open in a block so far: a cut inside a code span, emphasis or link would break its Markdown.
struct OpenSpans {
    int backticks = 0;
    int stars = 0;
    int brackets = 0;
    void see(QChar c) {
        if (c == u'`')
            ++backticks;
        else if (backticks % 2 == 0) {
            if (c == u'*')
                ++stars;
            else if (c == u'[')
                ++brackets;
            else if (c == u']' && brackets > 0)
                --brackets;
        }
    }
    bool anyOpen() const { return backticks % 2 != 0 || stars % 2 != 0 || brackets > 0; }
};

} // namespace

DesktopCodingAnswerBlocks::DesktopCodingAnswerBlocks(QObject *parent) : QAbstractListModel(parent) {}

QList<DesktopCodingAnswerBlocks::Boundary>
DesktopCodingAnswerBlocks::boundariesAfter(const QString &text, qsizetype from, qsizetype maxBlockLength) {
    QList<Boundary> result;
    qsizetype blockStart = from;
    bool inFence = false;
    bool previousLineBlank = false;
    OpenSpans open;
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
                open = {};
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
        // The sentence before ends a word ("it. 2. Look" is cut before the 2, not after it).
        if (!inFence && i - blockStart >= maxBlockLength && i >= 3 && c.isLetterOrNumber() &&
            text[i - 1] == u' ' && (text[i - 2] == u'.' || text[i - 2] == u'!' || text[i - 2] == u'?') &&
            text[i - 3].isLetter() && !open.anyOpen()) {
            result.append(Boundary{i, false});
            blockStart = i;
            open = {};
        }
        if (!inFence)
            open.see(c);
    }
    return result;
}

void DesktopCodingAnswerBlocks::setText(const QString &text) {
    if (text == m_text)
        return;
    if (text.startsWith(m_text)) {
        // Grown at its end: only the last block and what follows it change. The last block takes its final
        // text first, then the new blocks come after it.
        const qsizetype last = m_blocks.size() - 1;
        const QList<Boundary> added = boundariesAfter(text, m_blocks[last].start, m_maxBlockLength);
        const QModelIndex changed = index(int(last));
        m_text = added.isEmpty() ? text : text.left(added.constFirst().start);
        Q_EMIT dataChanged(changed, changed, {TextRole});
        if (!added.isEmpty()) {
            beginInsertRows({}, int(m_blocks.size()), int(m_blocks.size() + added.size() - 1));
            m_text = text;
            m_blocks.append(added);
            endInsertRows();
        }
    } else {
        beginResetModel();
        m_text = text;
        m_blocks = QList<Boundary>{Boundary{}} + boundariesAfter(m_text, 0, m_maxBlockLength);
        endResetModel();
    }
    Q_EMIT textChanged();
}

void DesktopCodingAnswerBlocks::takeText(QAbstractItemModel *model, int row, const QByteArray &roleName) {
    if (!model || row < 0 || row >= model->rowCount()) {
        setText({});
        return;
    }
    const int role = model->roleNames().key(roleName, -1);
    setText(role < 0 ? QString() : model->index(row, 0).data(role).toString());
}

int DesktopCodingAnswerBlocks::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_blocks.size());
}

QString DesktopCodingAnswerBlocks::blockText(qsizetype block) const {
    const Boundary &boundary = m_blocks[block];
    const qsizetype end = block + 1 < m_blocks.size() ? m_blocks[block + 1].start : m_text.size();
    QString shown = m_text.mid(boundary.start, end - boundary.start);
    if (block == 0 || boundary.startsParagraph)
        return shown;
    // A sentence that starts a block inside a paragraph is text, whatever it starts with: "2. Look" is not a
    // list item.
    qsizetype digits = 0;
    while (digits < shown.size() && shown[digits].isDigit())
        ++digits;
    if (digits > 0 && digits < shown.size() && (shown[digits] == u'.' || shown[digits] == u')'))
        shown.insert(digits, u'\\');
    return shown;
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
