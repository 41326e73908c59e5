// The one list of hostile texts that every text path of the station is tried with: what a person can
// type or paste, and what an administration tool can leave in the database.
#pragma once

#include <QByteArray>
#include <QString>

#include <string>
#include <vector>

struct HostileText {
    const char* name;
    QString text;
};

inline const std::vector<HostileText>& hostile_corpus() {
    static const std::vector<HostileText> corpus = {
        {"quote", QStringLiteral("l'apostrophe")},
        {"doubled quotes", QStringLiteral("a''b''")},
        {"double quotes", QStringLiteral("\"guillemets\"")},
        {"backslashes", QStringLiteral("fin\\ \\\\ \\' \\")},
        {"format directives", QStringLiteral("%s %n %d %%")},
        {"embedded NUL", QStringLiteral("avant") + QChar(0) + QStringLiteral("apres")},
        {"CR and LF", QStringLiteral("ligne1\r\nligne2")},
        {"300 characters", QString(300, QLatin1Char('x'))},
        {"10 000 characters", QString(10000, QLatin1Char('y'))},
        {"emoji", QString::fromUtf8("sourire \xF0\x9F\x98\x80")},
        {"CJK", QString::fromUtf8("\xE5\x8C\x97\xE4\xBA\xAC")},
        {"SQL always true", QStringLiteral("' OR '1'='1")},
        {"SQL drop", QStringLiteral("'; DROP TABLE tab_user; --")},
    };
    return corpus;
}

// Bytes as hexadecimal digits, for SQL literals that hold them exactly.
inline std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// An SQL literal holding exactly these bytes in a latin1 column, in any sql_mode.
inline std::string latin1_literal(const std::string& bytes) {
    return "CAST(X'" + hex(bytes) + "' AS CHAR CHARACTER SET latin1)";
}

// The bytes an administration tool would leave in a latin1 column for this text: its UTF-8 bytes as
// they are, so characters outside the code page arrive as several code-page characters.
inline std::string database_bytes(const HostileText& hostile, std::size_t column_width) {
    const QByteArray utf8 = hostile.text.toUtf8();
    return std::string(utf8.constData(), static_cast<std::size_t>(utf8.size())).substr(0, column_width);
}
