#include "fonction/registration_text.h"
#include "fonction/text.h"

#include <QString>
#include <gtest/gtest.h>

namespace {

std::string cp(const char* utf8) {
    return to_cp1252(QString::fromUtf8(utf8));
}

} // namespace

TEST(RegistrationText, CapitaliseUpperCasesTheFirstCharacterAndLowerCasesTheRest) {
    EXPECT_EQ(capitalise("JEAN"), "Jean");
    EXPECT_EQ(capitalise("jEAN-PIERRE D'ARC"), "Jean-pierre d'arc") << "hyphens, blanks and apostrophes stay";
    EXPECT_EQ(capitalise(" JEAN"), " jean") << "the first character is the blank";
    EXPECT_EQ(capitalise(""), "");
    EXPECT_EQ(capitalise("X"), "X");
}

TEST(RegistrationText, AccentedLettersOfTheCodePageChangeCaseByOneByte) {
    EXPECT_EQ(capitalise(cp("ÉLODIE")), cp("Élodie"));
    EXPECT_EQ(capitalise(cp("HÉLÈNE")), cp("Hélène"));
    EXPECT_EQ(capitalise(cp("ŒDIPE")), cp("Œdipe"));
    EXPECT_EQ(capitalise(cp("çA")), cp("Ça"));
    EXPECT_EQ(upper_case(cp("àâäçéèêëîïôöùûüÿœšžæøåñ")), cp("ÀÂÄÇÉÈÊËÎÏÔÖÙÛÜŸŒŠŽÆØÅÑ"));
    EXPECT_EQ(lower_case(cp("ÀÂÄÇÉÈÊËÎÏÔÖÙÛÜŸŒŠŽÆØÅÑ")), cp("àâäçéèêëîïôöùûüÿœšžæøåñ"));
    // Letters without a capital in the code page, and the signs between the letter blocks, stay.
    EXPECT_EQ(upper_case(cp("ßµ÷×")), cp("ßµ÷×"));
    EXPECT_EQ(lower_case(cp("ßµ÷×")), cp("ßµ÷×"));
    // Every byte maps to one byte, and lower-casing a capital gives back its letter.
    for (int b = 0; b < 256; ++b) {
        const char c = static_cast<char>(b);
        const char upper = upper_case_char(c);
        if (upper != c) {
            EXPECT_EQ(lower_case_char(upper), c) << "byte " << b;
        }
    }
}

TEST(RegistrationText, LoginCandidatesTakeAPrefixOfTheFirstNameAndTheWholeSurname) {
    EXPECT_EQ(login_candidate("Jean", "DUPONT", 1), "jdupont");
    EXPECT_EQ(login_candidate("Jean", "DUPONT", 2), "jedupont");
    EXPECT_EQ(login_candidate("Jean", "DUPONT", 4), "jeandupont");
    EXPECT_EQ(login_candidate("Jean-luc", "LE GOFF", 6), "jean-lle goff") << "nothing is removed";
    EXPECT_EQ(login_candidate(cp("Élodie"), cp("LEFÈVRE"), 2), cp("éllefèvre"));
}

TEST(RegistrationText, LinesAreEachFollowedByCrLfAndCutAtTheCapacity) {
    EXPECT_EQ(join_lines("", 50), "");
    EXPECT_EQ(join_lines("12 rue Haute", 50), "12 rue Haute\r\n");
    EXPECT_EQ(join_lines("12 rue Haute\nBat B", 50), "12 rue Haute\r\nBat B\r\n");
    EXPECT_EQ(join_lines("a\n", 50), "a\r\n") << "a final line break starts no line";
    EXPECT_EQ(join_lines("a\n\nb", 50), "a\r\n\r\nb\r\n");
    EXPECT_EQ(join_lines("a\r\nb", 50), "a\r\nb\r\n") << "a CR already there is not doubled";
    EXPECT_EQ(join_lines("abcdef\nghijkl", 12), "abcdef\r\ngh\r\n");
    EXPECT_EQ(join_lines("abcdef\nghijkl", 10), "abcdef\r\n") << "no empty line stands for a cut one";
    EXPECT_EQ(join_lines("abcdef", 3), "a\r\n");
    const std::string long_line = join_lines(std::string(500, 'x'), 120);
    EXPECT_EQ(long_line, std::string(118, 'x') + "\r\n");
}

TEST(RegistrationText, BirthDigitsKeepLeadingZeros) {
    EXPECT_EQ(birth_digits(5, 3, 1990), "05031990");
    EXPECT_EQ(birth_digits(31, 12, 2001), "31122001");
    EXPECT_EQ(birth_digits(1, 1, 987), "01010987");
}
