#pragma once

// Why a JSON document of the local control plane did not decode. The kinds are those of a keyed JSON decoder:
// a required key is missing, a value has the wrong JSON type (or a number does not fit), or the text is not
// JSON at all or holds a value outside an enumeration. The key names the member (empty for the document).
// It is both returned by the decoders and thrown by the health client.

#include <QString>

#include <exception>
#include <optional>
#include <string>

namespace rirudez {

class JsonDecodingError : public std::exception {
public:
    enum class Kind { keyNotFound, typeMismatch, dataCorrupted };

    JsonDecodingError(Kind kind, QString key, QString description);

    Kind kind() const { return m_kind; }
    const QString &key() const { return m_key; }
    const QString &description() const { return m_description; }

    // Case and key, for logs and test output, e.g. keyNotFound("status").
    QString diagnosticText() const;
    const char *what() const noexcept override { return m_what.c_str(); }

    friend bool operator==(const JsonDecodingError &a, const JsonDecodingError &b) {
        return a.m_kind == b.m_kind && a.m_key == b.m_key;
    }

private:
    Kind m_kind;
    QString m_key;
    QString m_description;
    std::string m_what;
};

// A decoded value or the error that prevented it.
template <typename T>
class DecodeResult {
public:
    DecodeResult(T value) : m_value(std::move(value)) {}
    DecodeResult(JsonDecodingError error) : m_error(std::move(error)) {}

    bool hasValue() const { return m_value.has_value(); }
    explicit operator bool() const { return hasValue(); }
    const T &value() const { return *m_value; }
    const T &operator*() const { return *m_value; }
    const T *operator->() const { return &*m_value; }
    const JsonDecodingError &error() const { return *m_error; }

private:
    std::optional<T> m_value;
    std::optional<JsonDecodingError> m_error;
};

} // namespace rirudez
