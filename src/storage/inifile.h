// Single keys of an INI text file. No state between calls: every read loads the whole file
// into a 64 KB working buffer, every write builds the whole new text in a second one and
// rewrites the file in place. Values are plain text; the caller converts.
#pragma once

constexpr int kIniBufferSize = 65536;

// Results of load_ini_file. Beside 1 (loaded) and 0 (cannot be opened) a file can be refused:
// too large for the buffer, unreadable, or holding a NUL byte (the buffer then holds the text
// up to that byte). Reads treat a refused file as missing, except that they do see the text
// before a NUL; writes refuse all three, so stored text is never replaced or dropped.
constexpr int kIniLoaded = 1;
constexpr int kIniCannotOpen = 0;
constexpr int kIniTooLarge = -1;   // 65,536 bytes or more; the buffer holds the empty text
constexpr int kIniReadError = -2;  // reading failed part way; the buffer holds the empty text
constexpr int kIniHoldsNul = -3;   // length counts the bytes before the first NUL

// Positions in the text found by the section and key search; -1 until found.
struct IniPositions {
  int section_start;  // first byte of the section name
  int section_end;    // first byte of the section body
  int key_start;      // first byte of the key line
  int key_end;        // last byte of the key
  int value_start;    // first byte after the '='
  int value_end;      // line end closing the value, or the terminating NUL
};

int load_ini_file(const char* path, char* buffer, int* length);
int parse_file(const char* section, const char* key, const char* text, IniPositions* positions);
int read_profile_string(const char* section, const char* key, char* value, int size,
                        const char* default_value, const char* path);
int read_profile_int(const char* section, const char* key, int default_value, const char* path);
// The same two reads on a text already loaded (load_ini_file), for a reader of many keys that
// must see them all from one state of the file. A null text reads as a missing file.
int read_text_string(const char* section, const char* key, char* value, int size,
                     const char* default_value, const char* text);
int read_text_int(const char* section, const char* key, int default_value, const char* text);
float read_profile_float(const char* section, const char* key, int default_value,
                         const char* path);
int write_profile_string(const char* section, const char* key, const char* value,
                         const char* path);
int split_tokens(char* text, char** tokens, const char* delimiters);
