// Text rules of the registration form, on Windows-1252 bytes. The case mapping is one byte for one
// byte and the same on every platform: ASCII letters and the accented letters of the code page
// (à-þ, š, œ, ž, ÿ) have their capital; ß and µ, which have none in the code page, stay as they are.
#pragma once

#include <cstddef>
#include <string>

char upper_case_char(char c);
char lower_case_char(char c);
std::string upper_case(const std::string& text);
std::string lower_case(const std::string& text);
// First character upper-cased, every following one lower-cased; nothing else changes.
std::string capitalise(const std::string& text);

// The first k characters of the first name followed by the whole surname, both lower-cased.
std::string login_candidate(const std::string& first_name, const std::string& surname, std::size_t k);

// The lines of a multi-line text ('\n' between lines), each followed by CR LF, kept to `capacity`
// bytes: whole lines while they fit, then as much of the next line as leaves room for its CR LF.
std::string join_lines(const std::string& text, std::size_t capacity);

// "%02d%02d%04d": the eight digits of a birth date, whose digest is the default password.
std::string birth_digits(int day, int month, int year);
