// Magnetic cards as the swipe reader delivers them, built here apart from
// the library's decoder: text to ISO/IEC 7811 characters with odd parity
// and LRC, and the bit stream of a swipe in either direction as the reader
// groups it (it starts a character at the first one bit it sees).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kovran::test::stripe {

// 7 bits per character on track 1, 5 on tracks 2 and 3.
int Width(int track);
// The character value of a text character (track 1: c - 0x20; tracks 2
// and 3: c - '0').
std::uint8_t Value(int track, char c);
char TextOf(int track, std::uint8_t value);
// The value with its odd parity bit on top.
std::uint8_t WithParity(int track, std::uint8_t value);
// The LRC character: each data-bit column even over the whole text.
char Lrc(int track, const std::string& text);
// The raw characters of text (sentinels included, LRC not), forward, with
// the LRC appended.
std::vector<std::uint8_t> Forward(int track, const std::string& text);

// The raw bytes of characters swiped backwards: the reader sees the bits
// last first, skips zeros until a one and `slip` bits more, groups what
// follows into characters (first bit read in bit 0) and stops at the last
// one bit.
std::vector<std::uint8_t> Reversed(const std::vector<std::uint8_t>& forward, int track,
                                   int slip = 0);
// The same pass forward: a forward swipe grouped from the first one bit
// after `slip` bits.
std::vector<std::uint8_t> Regrouped(const std::vector<std::uint8_t>& forward, int track, int slip);

// A forward swipe with a stray one bit `gap` bits before the start
// sentinel: the reader begins its first character there.
std::vector<std::uint8_t> AfterStrayBit(const std::vector<std::uint8_t>& forward, int track,
                                        int gap);

}  // namespace kovran::test::stripe
