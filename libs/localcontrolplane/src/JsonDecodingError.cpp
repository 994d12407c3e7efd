#include "rirudez/localcontrolplane/JsonDecodingError.h"

namespace rirudez {
using namespace Qt::StringLiterals;

JsonDecodingError::JsonDecodingError(Kind kind, QString key, QString description)
    : m_kind(kind), m_key(std::move(key)), m_description(std::move(description)) {
    m_what = diagnosticText().toStdString() + ": " + m_description.toStdString();
}

QString JsonDecodingError::diagnosticText() const {
    QString name;
    switch (m_kind) {
    case Kind::keyNotFound:
        name = u"keyNotFound"_s;
        break;
    case Kind::typeMismatch:
        name = u"typeMismatch"_s;
        break;
    case Kind::dataCorrupted:
        name = u"dataCorrupted"_s;
        break;
    }
    return name + u"(\""_s + m_key + u"\")"_s;
}

} // namespace rirudez
