// Wave files: RIFF WAVE (".wav", a 44-byte header) and NIST SPHERE (a 1024-byte ASCII header).
//
// Speech for recognition is mono 16-bit signed little-endian at 11025 Hz. File handles are system
// file descriptors (a negative descriptor is "no file"). Failures are reported by the return value
// only; nothing is logged. Reading never alters the file. See docs/audio-device.md for the byte
// layouts.
#pragma once
#include <cstdint>

namespace vlm {

constexpr int kRiffHeaderBytes = 44;
constexpr int kNistHeaderBytes = 1024;
// The header buffer seekToData fills (and the FileWavChannel keeps).
constexpr int kWaveHeaderBufferBytes = 1024;
// RIFF format selectors: 1 = 11025 Hz, 16 bits, mono; any other value = 8000 Hz, 8 bits, mono.
constexpr int kRiffSpeechFormat = 1;
constexpr int kRiffRecorderFormat = 0;
// seekToData results.
enum { eWaveNotAccepted = 0, eWaveNist = 512, eWaveRiff = 1024 };
// The 16 bytes a NIST file starts with (magic and header length).
inline constexpr const char kNistMagic[] = "NIST_1A\n   1024\n";

// Writes a complete RIFF file of count 16-bit samples with the header of the selector. The file
// is written under a temporary name next to path and renamed over it, so a failed write leaves an
// existing file as it was and no partial file. Returns 1 on success, 0 when samples is null, count
// is 0 or the file cannot be written.
int writeRiffFile(const char* path, const int16_t* samples, uint32_t count, int selector);

// Takes fd's current position as the file length, writes the 44-byte header (selector's format
// block, position - 8 at offset 4, position - 44 at offset 40) at offset 0 and restores the
// position. Returns 1 when patched; 0 when fd is invalid, the position is 44 or less, or beyond
// what the 32-bit length fields can hold (nothing written), or the write fails.
int patchRiffHeader(int fd, int selector);

// Reads the first 1024 bytes of an open file into header (1024 bytes; must not be null: assertion
// "header") and positions the file at the first sample. Returns 512 for a NIST file (positioned
// at 1024; the samples are taken as 16-bit little-endian mono whatever the header declares), 1024
// for an accepted RIFF file (11025 Hz 16-bit mono PCM; "data" found at an even offset from 32 to
// 198; positioned at the first sample of the data chunk), 0 for anything else, including every
// file shorter than 1024 bytes. A rejected file's position is unspecified.
int seekToData(int fd, char* header);

// Writes a complete NIST file: the 1024-byte header (magic; channel_count, sample_n_bytes,
// sample_rate, sample_byte_format, sample_sig_bits; sample_count; nbytes_all; "prompt -s<len> "
// and the prompt when prompt is given; extra exactly as given; "\nend_head\n"; zeros) and the
// samples. prompt and extra may be null. Written under a temporary name and renamed over path.
// Returns 1 when written; 0 when samples is null, count is 0, the header fields do not fit in
// 1024 bytes (assertion "s < nistHdr + 1024"; nothing is written), or the file cannot be written
// in full (no partial file is left).
//
// Utterance::writeNistFile (path, WordDictionary*) lives with Utterance: it picks the prompt (the
// utterance's own, or its selected hypothesis rendered as words) and calls this function with
// extra = null.
int writeNistFile(const char* path, const int16_t* samples, uint32_t count, const char* prompt,
                  const char* extra);

// The position just behind key where key stands at the start of a line of [buffer, end), or null.
// The first line is never examined; a match needs position + strlen(key) < end.
const char* findEndOfString(const char* buffer, const char* end, const char* key);

// Finds the field key (findEndOfString) and converts its value by the type letter:
//   'i' or 'l': a 32-bit signed whole number (decimal, as atol; clamped to the 32-bit range) into
//               *(int32_t*)out; the header may say "-i" or "-l" for either;
//   's':        the text value into out as a NUL-terminated string of at most
//               min(outSize, declared length + 1) bytes, never reading at or behind end;
//   'r':        a double (as atof) into *(double*)out.
// The value syntax: optional white space (blank, tab, CR, LF), "-", the type letter (any case);
// for 's' the decimal length directly behind the letter and one separator character; for the
// numbers optional white space before the value. Returns 1 on success; 0 when the key is absent,
// the "-" or the type letter does not match, a value would start at or behind end, the declared
// text length is not a number, or the type is none of these letters. Never reads at or behind end.
int getNistHeaderPar(const char* buffer, const char* end, const char* key, char type, void* out,
                     int outSize);

// The NIST playback read: reads the 1024-byte header of path; requires the magic, "end_head"
// within the first 1023 bytes and "nbytes_all" (type 'l'); reads the nbytes_all - 1024 sample
// bytes behind the header in one piece into *data (new char[]; the caller owns it, e.g. hands it
// to playWaveData) and sets *bytes. Returns 1 when read; 0 when the file is missing, not NIST, a
// field is missing, nbytes_all is not above 1024 or claims more bytes than the file holds, or the
// read comes short (*data stays null). An odd byte count is rounded down to whole samples.
int readNistForPlayback(const char* path, char** data, uint32_t* bytes);

// 1 when the 1024-byte header starts as a RIFF WAVE file ("RIFF" at 0, "WAVEfmt " at 8).
int isRiffWaveHeader(const char* header, int length);

}  // namespace vlm
