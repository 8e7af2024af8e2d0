// Bounded string copying and number-to-text conversion. Every copy is bounded by an explicit
// room (bytes, the NUL included) and returns the address of the NUL it wrote.
#pragma once

namespace vlm {

// Copies at most room - 1 characters and the NUL; room 0 writes nothing and returns target;
// a negative room means no limit. Null source or target is an assertion failure.
char* copyString(char* target, const char* source, int room);
// A copy in a new allocation (new char[]; free with delete[]) with extra spare bytes.
char* copyString(const char* source, int extra);
char* copyString(const char* source);

// Signed decimal; room below 3 gives an empty string (room > 0); digits beyond the room are
// dropped from the end.
char* longToAscii(long value, char* target, int room);
// Unsigned lower-case hexadecimal without prefix; same room rules.
char* longToHexAscii(unsigned long value, char* target, int room);
// Decimal with up to min(room - 8, 10) significant digits through GCVT, a bare trailing "."
// removed; room below 8 gives an empty string.
char* doubleToAscii(double value, char* target, int room);
// Writes value with the given significant digits (1..9; others become 8 or 9); returns the end.
// target needs room for 32 characters.
char* GCVT(double value, int digits, char* target);

}  // namespace vlm
