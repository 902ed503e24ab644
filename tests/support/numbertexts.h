// The number box's rule, written independently of the program, and the pieces
// of generated texts that the number-box tests feed it.
#ifndef NUMBERTEXTS_H
#define NUMBERTEXTS_H

#include <random>
#include <string>

constexpr int NUMBER_READ_CHARS = 31;  // characters of the box the program reads
constexpr int NUMBER_RANGE = 65536;    // values wrap to 16 bits

struct Expected {
    bool valid;
    int value;  // the 16-bit value written when valid
};

// Exact long division over the first NUMBER_READ_CHARS characters; any
// non-digit among them refuses the text.
Expected NumberRule(const std::string& text);

std::mt19937& TextRng();  // the generator of texts; each test seeds it
int Pick(int lo, int hi);
std::string Digits(int n);
char NonDigit();  // blanks, signs, punctuation, letters, Windows-1252 above 127

#endif
