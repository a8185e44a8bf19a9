#include "platform/JsonReader.h"

#include <QJsonArray>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <string>
#include <vector>

namespace {

// Deeper nesting than any settings need; the bound keeps the recursion off the end of
// the stack whatever the file holds.
constexpr int maxDepth = 200;

// strtod that ignores the process's locale (a comma as the decimal point).
double strtodC(const char* text, char** end) {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    return strtod_l(text, end, c);
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Where a value's token may end.
bool isDelimiter(char c) {
    return isSpace(c) || c == ',' || c == ']' || c == '}' || c == ':';
}

void appendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | (code >> 6));
        out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += char(0xE0 | (code >> 12));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xF0 | (code >> 18));
        out += char(0x80 | ((code >> 12) & 0x3F));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}

class Parser {
public:
    Parser(QByteArrayView text, const QHash<QString, qsizetype>& limits)
        : m_p(text.data())
        , m_end(text.data() + text.size())
        , m_limits(limits) {}

    JsonReadResult run() {
        static constexpr char bom[] = "\xEF\xBB\xBF";
        if (m_end - m_p >= 3 && std::equal(bom, bom + 3, m_p)) {
            m_p += 3;
        }
        skipSpace();
        if (m_p == m_end) {
            return failure(QStringLiteral("the file is empty"));
        }
        if (*m_p != '{') {
            return failure(QStringLiteral("the top level is not an object"));
        }
        QJsonValue top;
        if (parseObject(&top, 1) == Outcome::failed) {
            return failure(m_error);
        }
        skipSpace();
        if (m_p != m_end) {
            return failure(QStringLiteral("text after the end of the settings"));
        }
        m_result.object = top.toObject();
        return std::move(m_result);
    }

private:
    enum class Outcome { value, dropped, failed };

    // One step of a value's path: a member name or an array index.
    struct Step {
        QString key;
        qsizetype index = -1;
    };

    JsonReadResult failure(const QString& why) {
        JsonReadResult result;
        result.error = why + QStringLiteral(" at offset ") + QString::number(offset());
        return result;
    }

    qsizetype offset() const { return m_p - m_start; }

    Outcome fail(const QString& why) {
        if (m_error.isEmpty()) {
            m_error = why;
        }
        return Outcome::failed;
    }

    void skipSpace() {
        while (m_p != m_end && isSpace(*m_p)) {
            ++m_p;
        }
    }

    QString path() const {
        QString text;
        for (const Step& step : m_path) {
            if (step.index >= 0) {
                text += QLatin1Char('[') + QString::number(step.index) + QLatin1Char(']');
            } else {
                text += (text.isEmpty() ? QString() : QStringLiteral(".")) + step.key;
            }
        }
        return text;
    }

    void reportDropped(const QString& why, bool keep) {
        if (!keep) {
            return; // inside a part that is cut anyway
        }
        m_result.dropped.append(path() + QStringLiteral(" (") + why + QLatin1Char(')'));
        if (!m_path.empty() && !m_result.damagedKeys.contains(m_path.front().key)) {
            m_result.damagedKeys.append(m_path.front().key);
        }
    }

    // A token that is no value: skipped up to where the next one may start.
    Outcome dropWord(const char* start, QString& reason) {
        m_p = start;
        while (m_p != m_end && !isDelimiter(*m_p)) {
            ++m_p;
        }
        const qsizetype length = m_p - start;
        reason = QStringLiteral("\"") +
                 QString::fromUtf8(start, std::min<qsizetype>(length, 24)).toHtmlEscaped() +
                 (length > 24 ? QStringLiteral("…") : QString()) +
                 QStringLiteral("\" is not a value");
        return Outcome::dropped;
    }

    // `out` null: read and check, keep nothing.
    Outcome parseValue(QJsonValue* out, int depth, QString& reason) {
        skipSpace();
        if (m_p == m_end) {
            return fail(QStringLiteral("the text ends inside a value"));
        }
        switch (*m_p) {
        case '{':
            return parseObject(out, depth + 1);
        case '[':
            return parseArray(out, depth + 1);
        case '"': {
            std::string text;
            bool broken = false;
            if (!parseString(out ? &text : nullptr, broken)) {
                return Outcome::failed;
            }
            if (broken) {
                reason = QStringLiteral("a broken escape in a string");
                return Outcome::dropped;
            }
            if (out) {
                *out = QString::fromUtf8(text.data(), qsizetype(text.size()));
            }
            return Outcome::value;
        }
        case 't':
            return parseLiteral("true", QJsonValue(true), out, reason);
        case 'f':
            return parseLiteral("false", QJsonValue(false), out, reason);
        case 'n':
            return parseLiteral("null", QJsonValue(QJsonValue::Null), out, reason);
        case ',':
        case ']':
        case '}':
        case ':':
            return fail(QStringLiteral("a value is missing"));
        default:
            if (*m_p == '-' || (*m_p >= '0' && *m_p <= '9')) {
                return parseNumber(out, reason);
            }
            return dropWord(m_p, reason);
        }
    }

    Outcome parseLiteral(const char* word, const QJsonValue& value, QJsonValue* out,
                         QString& reason) {
        const char* start = m_p;
        const std::size_t length = std::char_traits<char>::length(word);
        if (std::size_t(m_end - m_p) >= length && std::equal(word, word + length, m_p) &&
            (m_p + length == m_end || isDelimiter(m_p[length]))) {
            m_p += length;
            if (out) {
                *out = value;
            }
            return Outcome::value;
        }
        return dropWord(start, reason);
    }

    Outcome parseNumber(QJsonValue* out, QString& reason) {
        const char* start = m_p;
        const char* p = m_p;
        const auto digits = [&] {
            const char* first = p;
            while (p != m_end && *p >= '0' && *p <= '9') {
                ++p;
            }
            return p != first;
        };
        bool integer = true;
        if (*p == '-') {
            ++p;
        }
        bool valid = p != m_end && *p == '0' ? (++p, true) : digits();
        if (valid && p != m_end && *p == '.') {
            ++p;
            integer = false;
            valid = digits();
        }
        if (valid && p != m_end && (*p == 'e' || *p == 'E')) {
            ++p;
            integer = false;
            if (p != m_end && (*p == '+' || *p == '-')) {
                ++p;
            }
            valid = digits();
        }
        if (!valid || (p != m_end && !isDelimiter(*p))) {
            return dropWord(start, reason);
        }
        m_p = p;
        if (!out) {
            return Outcome::value;
        }
        if (integer) {
            qint64 value = 0;
            const auto [end, error] = std::from_chars(start, p, value);
            if (error == std::errc() && end == p) {
                *out = QJsonValue(value);
                return Outcome::value;
            }
        }
        const std::string token(start, p);
        const double value = strtodC(token.c_str(), nullptr);
        if (std::isinf(value)) {
            reason = QStringLiteral("the number ") + QString::fromStdString(token.substr(0, 24)) +
                     QStringLiteral(" is out of range");
            return Outcome::dropped;
        }
        // Too small to tell from zero reads as the nearest double (zero at worst).
        *out = QJsonValue(value);
        return Outcome::value;
    }

    static int hexDigit(char c) {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        return -1;
    }

    // Four hex digits after "\u" at m_p; -1 when they are not.
    int unicodeEscape() {
        if (m_end - m_p < 4) {
            return -1;
        }
        int code = 0;
        for (int i = 0; i < 4; ++i) {
            const int digit = hexDigit(m_p[i]);
            if (digit < 0) {
                return -1;
            }
            code = code * 16 + digit;
        }
        m_p += 4;
        return code;
    }

    // At the opening quote. A string without its closing quote fails the document; a
    // bad escape only marks the string `broken`. `out` null: only skipped.
    bool parseString(std::string* out, bool& broken) {
        ++m_p;
        while (true) {
            const char* run = m_p;
            while (m_p != m_end && *m_p != '"' && *m_p != '\\') {
                ++m_p;
            }
            if (out) {
                out->append(run, std::size_t(m_p - run));
            }
            if (m_p == m_end) {
                fail(QStringLiteral("a string is not closed"));
                return false;
            }
            if (*m_p == '"') {
                ++m_p;
                return true;
            }
            ++m_p; // the backslash
            if (m_p == m_end) {
                fail(QStringLiteral("a string is not closed"));
                return false;
            }
            const char escaped = *m_p++;
            char plain = 0;
            switch (escaped) {
            case '"':
            case '\\':
            case '/':
                plain = escaped;
                break;
            case 'b':
                plain = '\b';
                break;
            case 'f':
                plain = '\f';
                break;
            case 'n':
                plain = '\n';
                break;
            case 'r':
                plain = '\r';
                break;
            case 't':
                plain = '\t';
                break;
            case 'u': {
                int code = unicodeEscape();
                if (code < 0) {
                    broken = true;
                    break;
                }
                char32_t character = char32_t(code);
                if (code >= 0xD800 && code < 0xDC00 && m_end - m_p >= 6 && m_p[0] == '\\' &&
                    m_p[1] == 'u') {
                    const char* high = m_p;
                    m_p += 2;
                    const int low = unicodeEscape();
                    if (low >= 0xDC00 && low < 0xE000) {
                        character =
                            0x10000 + ((char32_t(code) - 0xD800) << 10) + (char32_t(low) - 0xDC00);
                    } else {
                        m_p = high; // read on its own next time round
                    }
                }
                // A half of a surrogate pair has no character: the replacement one.
                if (character >= 0xD800 && character < 0xE000) {
                    character = 0xFFFD;
                }
                if (out) {
                    appendUtf8(*out, character);
                }
                continue;
            }
            default:
                broken = true;
                break;
            }
            if (plain && out) {
                *out += plain;
            }
        }
    }

    enum class Next { more, end, failed };

    // After a member or an element: a comma (more follow) or the container's end.
    Next afterElement(char close, const char* container, const char* closeName) {
        skipSpace();
        if (m_p == m_end) {
            fail(QStringLiteral("the text ends inside %1").arg(QLatin1String(container)));
            return Next::failed;
        }
        if (*m_p == ',' || *m_p == close) {
            return *m_p++ == ',' ? Next::more : Next::end;
        }
        fail(QStringLiteral("a comma or a closing %1 is missing").arg(QLatin1String(closeName)));
        return Next::failed;
    }

    Outcome parseObject(QJsonValue* out, int depth) {
        if (depth > maxDepth) {
            return fail(QStringLiteral("nested too deeply"));
        }
        ++m_p; // '{'
        QJsonObject object;
        qsizetype members = 0;
        skipSpace();
        if (m_p != m_end && *m_p == '}') {
            ++m_p;
            if (out) {
                *out = object;
            }
            return Outcome::value;
        }
        while (true) {
            skipSpace();
            if (m_p == m_end || *m_p != '"') {
                // A comma before the closing brace is a slip worth forgiving.
                if (m_p != m_end && *m_p == '}' && members > 0) {
                    ++m_p;
                    break;
                }
                return fail(QStringLiteral("a member name is missing"));
            }
            std::string keyText;
            bool keyBroken = false;
            if (!parseString(&keyText, keyBroken)) {
                return Outcome::failed;
            }
            const QString key = QString::fromUtf8(keyText.data(), qsizetype(keyText.size()));
            skipSpace();
            if (m_p == m_end || *m_p != ':') {
                return fail(QStringLiteral("a colon is missing"));
            }
            ++m_p;
            m_path.push_back({key, -1});
            QJsonValue value;
            QString reason;
            Outcome outcome = parseValue(out ? &value : nullptr, depth, reason);
            if (outcome == Outcome::failed) {
                return outcome;
            }
            if (keyBroken) {
                outcome = Outcome::dropped;
                reason = QStringLiteral("a broken escape in its name");
            }
            if (outcome == Outcome::dropped) {
                reportDropped(reason, out != nullptr);
            } else if (out) {
                object.insert(key, value);
            }
            m_path.pop_back();
            ++members;
            const Next next = afterElement('}', "an object", "brace");
            if (next == Next::failed) {
                return Outcome::failed;
            }
            if (next == Next::end) {
                break;
            }
        }
        if (out) {
            *out = object;
        }
        return Outcome::value;
    }

    Outcome parseArray(QJsonValue* out, int depth) {
        if (depth > maxDepth) {
            return fail(QStringLiteral("nested too deeply"));
        }
        ++m_p; // '['
        // An array right under a limited top-level key keeps only its first elements.
        qsizetype limit = -1;
        if (depth == 2 && m_path.size() == 1) {
            limit = m_limits.value(m_path.front().key, -1);
        }
        QJsonArray array;
        qsizetype count = 0;
        skipSpace();
        if (m_p != m_end && *m_p == ']') {
            ++m_p;
            if (out) {
                *out = array;
            }
            return Outcome::value;
        }
        while (true) {
            skipSpace();
            if (m_p != m_end && *m_p == ']' && count > 0) {
                ++m_p; // a comma before the closing bracket, forgiven
                break;
            }
            const bool keep = out && (limit < 0 || count < limit);
            m_path.push_back({QString(), count});
            QString reason;
            Outcome outcome;
            if (keep) {
                QJsonValue value;
                outcome = parseValue(&value, depth, reason);
                if (outcome == Outcome::value) {
                    array.append(value);
                }
            } else {
                outcome = parseValue(nullptr, depth, reason);
            }
            if (outcome == Outcome::failed) {
                return outcome;
            }
            if (outcome == Outcome::dropped) {
                reportDropped(reason, keep);
            }
            m_path.pop_back();
            ++count;
            const Next next = afterElement(']', "an array", "bracket");
            if (next == Next::failed) {
                return Outcome::failed;
            }
            if (next == Next::end) {
                break;
            }
        }
        if (limit >= 0 && count > limit && out) {
            m_result.trimmed.insert(m_path.front().key, count);
        }
        if (out) {
            *out = array;
        }
        return Outcome::value;
    }

    const char* m_p;
    const char* m_end;
    const char* m_start = m_p;
    const QHash<QString, qsizetype>& m_limits;
    std::vector<Step> m_path;
    QString m_error;
    JsonReadResult m_result;
};

} // namespace

JsonReadResult readJsonObject(QByteArrayView text, const QHash<QString, qsizetype>& arrayLimits) {
    return Parser(text, arrayLimits).run();
}
