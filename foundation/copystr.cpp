// Bounded string copying and number-to-text conversion.
#define VLM_UNIT "copystr"
#include "foundation/copystr.h"

#include <cmath>
#include <cstring>

#include "foundation/log.h"

namespace vlm {

char* copyString(char* target, const char* source, int room) {
  VLM_ASSERT(source != 0, "src!=0");
  VLM_ASSERT(target != 0, "targ!=0");
  if (target == nullptr || room == 0) return target;
  if (source == nullptr) source = "";  // an ignored assertion copies nothing
  if (room < 0) {
    while ((*target = *source++) != 0) target++;
    return target;
  }
  char* last = target + room - 1;  // where the NUL goes at the latest
  while (target < last && *source != 0) *target++ = *source++;
  *target = 0;
  return target;
}

char* copyString(const char* source, int extra) {
  VLM_ASSERT(source != 0, "src!=0");
  if (source == nullptr) source = "";
  if (extra < 0) extra = 0;
  size_t length = std::strlen(source);
  char* copy = new char[length + 1 + static_cast<size_t>(extra)];
  std::memcpy(copy, source, length + 1);
  return copy;
}

char* copyString(const char* source) { return copyString(source, 0); }

namespace {

// Writes the digits of magnitude in the given base, most significant first, into a local buffer
// and returns its start; the buffer's end is the NUL.
char* unsignedDigits(unsigned long magnitude, unsigned base, char* bufferEnd) {
  char* p = bufferEnd;
  *p = 0;
  do {
    unsigned digit = static_cast<unsigned>(magnitude % base);
    *--p = static_cast<char>(digit < 10 ? '0' + digit : 'a' + digit - 10);
    magnitude /= base;
  } while (magnitude != 0);
  return p;
}

}  // namespace

char* longToAscii(long value, char* target, int room) {
  if (target == nullptr || room == 0) return target;
  if (room > 0 && room < 3) {
    *target = 0;
    return target;
  }
  char buffer[32];
  unsigned long magnitude = value < 0 ? 0ul - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
  char* p = unsignedDigits(magnitude, 10, buffer + sizeof buffer - 1);
  if (value < 0) *--p = '-';
  return copyString(target, p, room);
}

char* longToHexAscii(unsigned long value, char* target, int room) {
  if (target == nullptr || room == 0) return target;
  if (room > 0 && room < 3) {
    *target = 0;
    return target;
  }
  char buffer[32];
  return copyString(target, unsignedDigits(value, 16, buffer + sizeof buffer - 1), room);
}

char* doubleToAscii(double value, char* target, int room) {
  if (target == nullptr || room == 0) return target;
  if (room > 0 && room < 8) {
    *target = 0;
    return target;
  }
  int digits = room < 0 ? 10 : (room - 8 < 10 ? room - 8 : 10);
  char buffer[48];
  char* end = GCVT(value, digits, buffer);
  if (end > buffer && end[-1] == '.') *--end = 0;
  return copyString(target, buffer, room);
}

namespace {

// Writes v with exponent e: the integer part, then, when there is a fraction and the integer part
// has fewer than `digits` characters, "." and exactly the remaining number of digits (rounded,
// trailing zeros kept), then " e<exponent>" when e is not 0.
char* gcvtPrimitive(double v, int e, int digits, char* target) {
  for (int pass = 0; pass < 2; pass++) {
    double integerPart = std::floor(v);
    double fraction = v - integerPart;
    char* p = longToAscii(static_cast<long>(integerPart), target, 13);  // at most 12 characters
    int intLength = static_cast<int>(p - target);
    if (fraction != 0 && intLength < digits) {
      int count = digits - intLength;
      fraction += 0.5 * std::pow(10.0, -count);
      if (fraction >= 1.0 && pass == 0) {
        v = integerPart + fraction;  // the rounding carried into the integer part
        continue;
      }
      *p++ = '.';
      for (int i = 0; i < count; i++) {
        fraction *= 10;
        int digit = static_cast<int>(fraction);
        if (digit > 9) digit = 9;
        if (digit < 0) digit = 0;
        *p++ = static_cast<char>('0' + digit);
        fraction -= digit;
      }
      *p = 0;
    }
    if (e != 0) {
      *p++ = ' ';
      *p++ = 'e';
      if (e < 0) *p++ = '-';
      p = longToAscii(e < 0 ? -e : e, p, 16);
    }
    return p;
  }
  return target;  // not reached
}

}  // namespace

char* GCVT(double value, int digits, char* target) {
  if (digits < 1) digits = 8;
  if (digits > 9) digits = 9;
  char* p = target;
  if (std::isnan(value)) return copyString(p, "nan", 4);
  if (value < 0) {
    *p++ = '-';
    value = -value;
  }
  if (std::isinf(value)) return copyString(p, "inf", 4);
  if (value == 0) return copyString(p, "0", 2);
  double power = std::pow(10.0, digits);
  int exponent = 0;
  if (!(value <= power && power * value >= 1)) {
    while (value < 1) {
      value *= power;
      exponent -= digits;
    }
    while (value > power) {
      value /= power;
      exponent += digits;
    }
    while (value >= 10) {
      value /= 10;
      exponent += 1;
    }
  }
  return gcvtPrimitive(value, exponent, digits, p);
}

}  // namespace vlm
