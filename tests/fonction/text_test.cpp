#include "fonction/text.h"

#include <gtest/gtest.h>

TEST(Cp1252, AccentsAndTheHighBlockRoundTrip) {
    const QString text = QStringLiteral("café € œ Ÿ ‘x’ – …");
    const std::string bytes = to_cp1252(text);
    EXPECT_EQ(bytes, std::string("caf\xe9 \x80 \x9c \x9f \x91x\x92 \x96 \x85"));
    EXPECT_EQ(from_cp1252(bytes), text);
}

TEST(Cp1252, CharactersOutsideTheCodePageBecomeOneQuestionMarkEach) {
    // An emoji is one character in two UTF-16 units; CJK is one unit.
    EXPECT_EQ(to_cp1252(QStringLiteral("a😀b漢c")), "a?b?c");
    EXPECT_EQ(to_cp1252(QStringLiteral("Ā")), "?");
}

TEST(Cp1252, UnassignedBytesReadAsReplacementCharacter) {
    EXPECT_EQ(from_cp1252(std::string("\x81")), QString(QChar(0xFFFD)));
}

TEST(PasswordDigest, IsTheMd5OfTheCodePageBytes) {
    EXPECT_EQ(password_digest(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(password_digest(to_cp1252(QStringLiteral("café"))), "961f50f6282239d09e48f812c1ca7276");
    EXPECT_EQ(password_digest("01021990"), password_digest(std::string("01021990")));
    EXPECT_NE(password_digest("soleil"), password_digest("Soleil"));
    EXPECT_NE(password_digest("soleil"), password_digest(" soleil"));
}

TEST(LocalDateText, PadsMonthAndDayButNotTheYear) {
    EXPECT_EQ(local_date_text(LocalTime{2024, 3, 7, 0, 0, 0}), "2024-03-07");
    EXPECT_EQ(local_date_text(LocalTime{2026, 12, 31, 23, 59, 59}), "2026-12-31");
    EXPECT_EQ(local_date_text(LocalTime{987, 1, 1, 0, 0, 0}), "987-01-01");
}
