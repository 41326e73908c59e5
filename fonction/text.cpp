#include "fonction/text.h"

#include <QCryptographicHash>
#include <QByteArray>
#include <cstdio>

namespace {

// Windows-1252 differs from Latin-1 only in 0x80-0x9F. Zero marks the five unassigned bytes.
const char16_t high_block[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

char encode(char16_t unit) {
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
        return static_cast<char>(unit);
    }
    for (int i = 0; i < 32; ++i) {
        if (high_block[i] != 0 && high_block[i] == unit) {
            return static_cast<char>(0x80 + i);
        }
    }
    return '?';
}

} // namespace

std::string to_cp1252(const QString& text) {
    std::string out;
    out.reserve(static_cast<std::size_t>(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            ++i; // one character outside the code page, one '?'
            out.push_back('?');
            continue;
        }
        out.push_back(encode(c.unicode()));
    }
    return out;
}

bool encodable_in_cp1252(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() != u'?' && encode(c.unicode()) == '?') {
            return false;
        }
    }
    return true;
}

QString from_cp1252(const std::string& bytes) {
    QString out;
    out.reserve(static_cast<qsizetype>(bytes.size()));
    for (const char byte : bytes) {
        const auto b = static_cast<unsigned char>(byte);
        if (b >= 0x80 && b < 0xA0) {
            const char16_t mapped = high_block[b - 0x80];
            out.append(mapped != 0 ? QChar(mapped) : QChar(0xFFFD));
        } else {
            out.append(QChar(static_cast<char16_t>(b)));
        }
    }
    return out;
}

QString from_cp1252(const char* bytes) {
    return from_cp1252(std::string(bytes == nullptr ? "" : bytes));
}

std::string password_digest(const std::string& bytes) {
    const QByteArray digest = QCryptographicHash::hash(
        QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())), QCryptographicHash::Md5);
    return digest.toHex().toStdString();
}

std::string local_date_text(const LocalTime& time) {
    char text[32];
    std::snprintf(text, sizeof text, "%u-%02u-%02u", static_cast<unsigned>(time.year),
                  static_cast<unsigned>(time.month), static_cast<unsigned>(time.day));
    return text;
}
