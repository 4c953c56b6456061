/*
 * iconv on the Windows code-page API (contract in iconv.h).
 *
 * What is where:
 *   names        charset names to an encoding (LookUpCharset, OpenCharset)
 *   decoders     one character of input to a code point: the Unicode forms and Latin-1 in
 *                code, code pages through MultiByteToWideChar after a structural check
 *   encoders     a code point to bytes: the same split, WideCharToMultiByte checked by a
 *                decode of its result
 *   iconv        the POSIX loop: decode, encode, check room, advance both sides
 *
 * Every conversion goes through one code point at a time. That keeps the pointers exactly
 * where POSIX wants them on every error (FreeTDS reports a character it could not convert by
 * where iconv stopped), and the API calls are cheap next to a database exchange.
 */
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "iconv.h"

/* ---- encodings ---------------------------------------------------------------------- */

typedef enum Form {
  kFormUtf8,
  kFormUtf16Le,
  kFormUtf16Be,
  kFormUcs4Le,
  kFormUcs4Be,
  kFormLatin1,
  kFormAscii,
  kFormCodePage
} Form;

/* How a code page's bytes group into characters, checked before the API sees them: the API
   with MB_ERR_INVALID_CHARS decides whether a whole character is valid, but cannot say
   whether a cut one is incomplete (EINVAL) or invalid (EILSEQ). */
typedef enum Structure {
  kStructureSingleByte,
  kStructureDoubleByte, /* lead bytes from GetCPInfo */
  kStructureGbk,        /* 00-80 single (80 is the euro), 81-FE lead, trail 40-7E/80-FE */
  kStructureGb18030     /* 00-7F single, 81-FE lead; 2 bytes or 4 (81-FE 30-39 81-FE 30-39) */
} Structure;

typedef struct Charset {
  Form form;
  Structure structure;
  UINT code_page;
  unsigned requested_code_page;
  int substituted;
  unsigned char lead_byte[256]; /* kStructureDoubleByte */
} Charset;

struct iconv_windows_descriptor {
  Charset from;
  Charset to;
};

enum { kGbkCodePage = 936, kGb18030CodePage = 54936 };

/* ---- names -------------------------------------------------------------------------- */

typedef struct NamedCharset {
  const char* name;
  Form form;
  unsigned code_page;
} NamedCharset;

static const NamedCharset kNamedCharsets[] = {
    {"UTF-8", kFormUtf8, 0},
    {"UTF8", kFormUtf8, 0},
    {"UTF-16LE", kFormUtf16Le, 0},
    {"UCS-2LE", kFormUtf16Le, 0},
    {"UNICODELITTLE", kFormUtf16Le, 0},
    {"UTF-16BE", kFormUtf16Be, 0},
    {"UCS-2BE", kFormUtf16Be, 0},
    {"UNICODEBIG", kFormUtf16Be, 0},
    {"UCS-4", kFormUcs4Be, 0},
    {"UCS4", kFormUcs4Be, 0},
    {"UCS-4BE", kFormUcs4Be, 0},
    {"UTF-32BE", kFormUcs4Be, 0},
    {"UCS-4LE", kFormUcs4Le, 0},
    {"UTF-32LE", kFormUcs4Le, 0},
    {"ISO-8859-1", kFormLatin1, 0},
    {"ISO8859-1", kFormLatin1, 0},
    {"ISO_8859-1", kFormLatin1, 0},
    {"LATIN1", kFormLatin1, 0},
    {"L1", kFormLatin1, 0},
    {"CP819", kFormLatin1, 0},
    {"IBM819", kFormLatin1, 0},
    {"US-ASCII", kFormAscii, 0},
    {"ASCII", kFormAscii, 0},
    {"ANSI_X3.4-1968", kFormAscii, 0},
    {"GBK", kFormCodePage, kGbkCodePage},
    {"MS936", kFormCodePage, kGbkCodePage},
    {"GB18030", kFormCodePage, kGb18030CodePage},
};

static int SameName(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    char ca = *a, cb = *b;
    if (ca >= 'a' && ca <= 'z') ca = (char)(ca - 'a' + 'A');
    if (cb >= 'a' && cb <= 'z') cb = (char)(cb - 'a' + 'A');
    if (ca != cb) return 0;
  }
  return *a == *b;
}

/* "CP1252", "WINDOWS-1252": the number, or 0. */
static unsigned NumberedCodePage(const char* name) {
  const char* digits = NULL;
  unsigned value = 0;
  if ((name[0] == 'C' || name[0] == 'c') && (name[1] == 'P' || name[1] == 'p')) {
    digits = name + 2;
  } else if (strlen(name) > 8) {
    char prefix[9];
    memcpy(prefix, name, 8);
    prefix[8] = '\0';
    if (SameName(prefix, "WINDOWS-")) digits = name + 8;
  }
  if (digits == NULL || *digits == '\0') return 0;
  for (; *digits != '\0'; ++digits) {
    if (*digits < '0' || *digits > '9' || value > 99999) return 0;
    value = value * 10 + (unsigned)(*digits - '0');
  }
  return value;
}

/* A code page that Windows names by number but that is one of the forms done in code. */
static int FormOfCodePage(unsigned code_page, Form* form) {
  switch (code_page) {
    case 65001: *form = kFormUtf8; return 1;
    case 1200: *form = kFormUtf16Le; return 1;
    case 1201: *form = kFormUtf16Be; return 1;
    case 12000: *form = kFormUcs4Le; return 1;
    case 12001: *form = kFormUcs4Be; return 1;
    case 28591: *form = kFormLatin1; return 1;
    case 20127: *form = kFormAscii; return 1;
    default: return 0;
  }
}

static int OpenCodePage(Charset* charset, unsigned code_page) {
  CPINFO info;
  charset->form = kFormCodePage;
  charset->requested_code_page = code_page;
  charset->code_page = code_page;
  charset->substituted = 0;
  if (code_page == kGb18030CodePage && !IsValidCodePage(kGb18030CodePage)) {
    /* wine 8 has no 54936. GBK (936) is GB18030's two-byte part with the same bytes for the
       same characters, so everything but the four-byte sequences still converts; say so in
       iconv_windows_describe rather than refuse, because the venue's texts are GBK. */
    charset->code_page = kGbkCodePage;
    charset->substituted = 1;
  }
  if (!IsValidCodePage(charset->code_page)) return 0;
  if (code_page == kGb18030CodePage) {
    charset->structure = kStructureGb18030;
    return 1;
  }
  if (code_page == kGbkCodePage) {
    charset->structure = kStructureGbk;
    return 1;
  }
  if (!GetCPInfo(charset->code_page, &info)) return 0;
  if (info.MaxCharSize == 1) {
    charset->structure = kStructureSingleByte;
    return 1;
  }
  if (info.MaxCharSize == 2) {
    int i, b;
    charset->structure = kStructureDoubleByte;
    memset(charset->lead_byte, 0, sizeof charset->lead_byte);
    for (i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i] != 0; i += 2) {
      for (b = info.LeadByte[i]; b <= info.LeadByte[i + 1]; ++b) charset->lead_byte[b] = 1;
    }
    return 1;
  }
  return 0; /* stateful or other multi-byte code pages (ISO-2022, UTF-7) are not served */
}

static int OpenCharset(Charset* charset, const char* name) {
  size_t i;
  unsigned code_page;
  Form form;
  memset(charset, 0, sizeof *charset);
  if (name == NULL) return 0;
  for (i = 0; i < sizeof kNamedCharsets / sizeof kNamedCharsets[0]; ++i) {
    if (!SameName(name, kNamedCharsets[i].name)) continue;
    if (kNamedCharsets[i].form == kFormCodePage) {
      return OpenCodePage(charset, kNamedCharsets[i].code_page);
    }
    charset->form = kNamedCharsets[i].form;
    return 1;
  }
  code_page = NumberedCodePage(name);
  if (code_page == 0) return 0;
  if (FormOfCodePage(code_page, &form)) {
    charset->form = form;
    return 1;
  }
  return OpenCodePage(charset, code_page);
}

/* ---- decoders ----------------------------------------------------------------------- */

typedef enum Status { kConverted, kInvalid, kIncomplete } Status;

static int IsSurrogate(unsigned long c) { return c >= 0xD800 && c <= 0xDFFF; }

static Status DecodeUtf8(const unsigned char* in, size_t left, unsigned long* c,
                         size_t* length) {
  unsigned char b0 = in[0], low = 0x80, high = 0xBF;
  size_t n, i;
  unsigned long value;
  if (b0 < 0x80) {
    *c = b0;
    *length = 1;
    return kConverted;
  }
  /* RFC 3629's table: no overlong forms, no surrogates, nothing past U+10FFFF. */
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    n = 2;
    value = b0 & 0x1Fu;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    n = 3;
    value = b0 & 0x0Fu;
    if (b0 == 0xE0) low = 0xA0;
    if (b0 == 0xED) high = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    n = 4;
    value = b0 & 0x07u;
    if (b0 == 0xF0) low = 0x90;
    if (b0 == 0xF4) high = 0x8F;
  } else {
    return kInvalid;
  }
  for (i = 1; i < n; ++i) {
    if (i >= left) return kIncomplete;
    if (in[i] < low || in[i] > high) return kInvalid;
    low = 0x80;
    high = 0xBF;
    value = (value << 6) | (in[i] & 0x3Fu);
  }
  *c = value;
  *length = n;
  return kConverted;
}

static unsigned Unit16(const unsigned char* in, int big_endian) {
  return big_endian ? (unsigned)(in[0] << 8 | in[1]) : (unsigned)(in[1] << 8 | in[0]);
}

static Status DecodeUtf16(const unsigned char* in, size_t left, int big_endian,
                          unsigned long* c, size_t* length) {
  unsigned first, second;
  if (left < 2) return kIncomplete;
  first = Unit16(in, big_endian);
  if (first >= 0xDC00 && first <= 0xDFFF) return kInvalid;
  if (first < 0xD800 || first > 0xDBFF) {
    *c = first;
    *length = 2;
    return kConverted;
  }
  if (left < 4) return kIncomplete;
  second = Unit16(in + 2, big_endian);
  if (second < 0xDC00 || second > 0xDFFF) return kInvalid;
  *c = 0x10000ul + ((unsigned long)(first - 0xD800) << 10) + (second - 0xDC00);
  *length = 4;
  return kConverted;
}

static Status DecodeUcs4(const unsigned char* in, size_t left, int big_endian,
                         unsigned long* c, size_t* length) {
  unsigned long value;
  if (left < 4) return kIncomplete;
  if (big_endian) {
    value = (unsigned long)in[0] << 24 | (unsigned long)in[1] << 16 | (unsigned long)in[2] << 8 | in[3];
  } else {
    value = (unsigned long)in[3] << 24 | (unsigned long)in[2] << 16 | (unsigned long)in[1] << 8 | in[0];
  }
  if (value > 0x10FFFFul || IsSurrogate(value)) return kInvalid;
  *c = value;
  *length = 4;
  return kConverted;
}

static int IsGbTrail(unsigned char b) { return b >= 0x40 && b <= 0xFE && b != 0x7F; }

/* The length of the code-page character at `in`, by the code page's byte structure. */
static Status CodePageLength(const Charset* charset, const unsigned char* in, size_t left,
                             size_t* length) {
  unsigned char b0 = in[0];
  switch (charset->structure) {
    case kStructureSingleByte:
      *length = 1;
      return kConverted;
    case kStructureDoubleByte:
      if (!charset->lead_byte[b0]) {
        *length = 1;
        return kConverted;
      }
      if (left < 2) return kIncomplete;
      *length = 2;
      return kConverted;
    case kStructureGbk:
      if (b0 <= 0x80) {
        *length = 1;
        return kConverted;
      }
      if (b0 == 0xFF) return kInvalid;
      if (left < 2) return kIncomplete;
      if (!IsGbTrail(in[1])) return kInvalid;
      *length = 2;
      return kConverted;
    case kStructureGb18030:
      if (b0 < 0x80) {
        *length = 1;
        return kConverted;
      }
      if (b0 == 0x80 || b0 == 0xFF) return kInvalid;
      if (left < 2) return kIncomplete;
      if (IsGbTrail(in[1])) {
        *length = 2;
        return kConverted;
      }
      if (in[1] < 0x30 || in[1] > 0x39) return kInvalid;
      if (left < 3) return kIncomplete;
      if (in[2] < 0x81 || in[2] > 0xFE) return kInvalid;
      if (left < 4) return kIncomplete;
      if (in[3] < 0x30 || in[3] > 0x39) return kInvalid;
      *length = 4;
      return kConverted;
  }
  return kInvalid;
}

static Status DecodeCodePage(const Charset* charset, const unsigned char* in, size_t left,
                             unsigned long* c, size_t* length) {
  WCHAR wide[4];
  int units;
  Status status = CodePageLength(charset, in, left, length);
  if (status != kConverted) return status;
  /* Under the substitute 936 a four-byte GB18030 sequence is well formed but has no
     character: 936 cannot say which. */
  if (*length == 4 && charset->substituted) return kInvalid;
  units = MultiByteToWideChar(charset->code_page, MB_ERR_INVALID_CHARS, (LPCCH)in,
                              (int)*length, wide, 4);
  if (units == 1 && !IsSurrogate(wide[0])) {
    *c = wide[0];
    return kConverted;
  }
  if (units == 2 && wide[0] >= 0xD800 && wide[0] <= 0xDBFF && wide[1] >= 0xDC00 &&
      wide[1] <= 0xDFFF) {
    *c = 0x10000ul + ((unsigned long)(wide[0] - 0xD800) << 10) + (wide[1] - 0xDC00u);
    return kConverted;
  }
  return kInvalid; /* undefined in the code page, or not exactly one character */
}

static Status Decode(const Charset* charset, const unsigned char* in, size_t left,
                     unsigned long* c, size_t* length) {
  switch (charset->form) {
    case kFormUtf8: return DecodeUtf8(in, left, c, length);
    case kFormUtf16Le: return DecodeUtf16(in, left, 0, c, length);
    case kFormUtf16Be: return DecodeUtf16(in, left, 1, c, length);
    case kFormUcs4Le: return DecodeUcs4(in, left, 0, c, length);
    case kFormUcs4Be: return DecodeUcs4(in, left, 1, c, length);
    case kFormLatin1:
      *c = in[0];
      *length = 1;
      return kConverted;
    case kFormAscii:
      if (in[0] >= 0x80) return kInvalid;
      *c = in[0];
      *length = 1;
      return kConverted;
    case kFormCodePage: return DecodeCodePage(charset, in, left, c, length);
  }
  return kInvalid;
}

/* ---- encoders ----------------------------------------------------------------------- */

enum { kMaxCharacterBytes = 4 };

/* Each returns the number of bytes written to out (at most kMaxCharacterBytes), or 0 when
   the character has no encoding in the set. */

static size_t EncodeUtf8(unsigned long c, unsigned char* out) {
  if (c < 0x80) {
    out[0] = (unsigned char)c;
    return 1;
  }
  if (c < 0x800) {
    out[0] = (unsigned char)(0xC0 | (c >> 6));
    out[1] = (unsigned char)(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = (unsigned char)(0xE0 | (c >> 12));
    out[1] = (unsigned char)(0x80 | ((c >> 6) & 0x3F));
    out[2] = (unsigned char)(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = (unsigned char)(0xF0 | (c >> 18));
  out[1] = (unsigned char)(0x80 | ((c >> 12) & 0x3F));
  out[2] = (unsigned char)(0x80 | ((c >> 6) & 0x3F));
  out[3] = (unsigned char)(0x80 | (c & 0x3F));
  return 4;
}

static void PutUnit16(unsigned unit, int big_endian, unsigned char* out) {
  out[big_endian ? 0 : 1] = (unsigned char)(unit >> 8);
  out[big_endian ? 1 : 0] = (unsigned char)(unit & 0xFF);
}

/* c as one UTF-16 unit or a surrogate pair; returns the number of units. */
static int ToUtf16(unsigned long c, WCHAR* units) {
  if (c < 0x10000) {
    units[0] = (WCHAR)c;
    return 1;
  }
  c -= 0x10000;
  units[0] = (WCHAR)(0xD800 + (c >> 10));
  units[1] = (WCHAR)(0xDC00 + (c & 0x3FF));
  return 2;
}

static size_t EncodeUtf16(unsigned long c, int big_endian, unsigned char* out) {
  WCHAR units[2];
  int n = ToUtf16(c, units), i;
  for (i = 0; i < n; ++i) PutUnit16(units[i], big_endian, out + 2 * i);
  return (size_t)n * 2;
}

static size_t EncodeUcs4(unsigned long c, int big_endian, unsigned char* out) {
  int i;
  for (i = 0; i < 4; ++i) {
    out[big_endian ? i : 3 - i] = (unsigned char)((c >> (24 - 8 * i)) & 0xFF);
  }
  return 4;
}

static size_t EncodeCodePage(const Charset* charset, unsigned long c, unsigned char* out) {
  WCHAR units[2];
  int n = ToUtf16(c, units);
  BOOL used_default = FALSE;
  int written;
  unsigned long back;
  size_t back_length;
  written = WideCharToMultiByte(charset->code_page, WC_NO_BEST_FIT_CHARS, units, n,
                                (LPSTR)out, kMaxCharacterBytes, NULL, &used_default);
  if (written == 0 && GetLastError() == ERROR_INVALID_FLAGS) {
    /* Some code pages take no flags; the decode below still catches any substitute. */
    used_default = FALSE;
    written = WideCharToMultiByte(charset->code_page, 0, units, n, (LPSTR)out,
                                  kMaxCharacterBytes, NULL, NULL);
  }
  if (written <= 0 || used_default) return 0;
  /* Lossy mappings (a default character, a best fit the flags did not stop, a byte this
     set's structure does not allow) show as a result that does not read back as c. */
  if (Decode(charset, out, (size_t)written, &back, &back_length) != kConverted ||
      back_length != (size_t)written || back != c) {
    return 0;
  }
  return (size_t)written;
}

static size_t Encode(const Charset* charset, unsigned long c, unsigned char* out) {
  switch (charset->form) {
    case kFormUtf8: return EncodeUtf8(c, out);
    case kFormUtf16Le: return EncodeUtf16(c, 0, out);
    case kFormUtf16Be: return EncodeUtf16(c, 1, out);
    case kFormUcs4Le: return EncodeUcs4(c, 0, out);
    case kFormUcs4Be: return EncodeUcs4(c, 1, out);
    case kFormLatin1:
      if (c > 0xFF) return 0;
      out[0] = (unsigned char)c;
      return 1;
    case kFormAscii:
      if (c > 0x7F) return 0;
      out[0] = (unsigned char)c;
      return 1;
    case kFormCodePage: return EncodeCodePage(charset, c, out);
  }
  return 0;
}

/* ---- iconv -------------------------------------------------------------------------- */

static int IsOpen(iconv_t cd) { return cd != NULL && cd != (iconv_t)-1; }

iconv_t iconv_open(const char* tocode, const char* fromcode) {
  iconv_t cd = (iconv_t)calloc(1, sizeof *cd);
  if (cd == NULL) {
    errno = ENOMEM;
    return (iconv_t)-1;
  }
  if (!OpenCharset(&cd->from, fromcode) || !OpenCharset(&cd->to, tocode)) {
    free(cd);
    errno = EINVAL;
    return (iconv_t)-1;
  }
  return cd;
}

size_t iconv(iconv_t cd, char** inbuf, size_t* inbytesleft, char** outbuf,
             size_t* outbytesleft) {
  const unsigned char* in;
  size_t in_left, out_left;
  char* out;
  int error = 0;
  if (!IsOpen(cd)) {
    errno = EBADF;
    return (size_t)-1;
  }
  /* No encoding served here has a shift state: a reset writes nothing. */
  if (inbuf == NULL || *inbuf == NULL) return 0;
  in = (const unsigned char*)*inbuf;
  in_left = *inbytesleft;
  out = outbuf != NULL ? *outbuf : NULL;
  out_left = out != NULL ? *outbytesleft : 0;
  while (in_left > 0) {
    unsigned long c;
    size_t length, written;
    unsigned char bytes[kMaxCharacterBytes];
    Status status = Decode(&cd->from, in, in_left, &c, &length);
    if (status != kConverted) {
      error = status == kIncomplete ? EINVAL : EILSEQ;
      break;
    }
    written = Encode(&cd->to, c, bytes);
    if (written == 0) {
      error = EILSEQ;
      break;
    }
    if (written > out_left) {
      error = E2BIG;
      break;
    }
    memcpy(out, bytes, written);
    out += written;
    out_left -= written;
    in += length;
    in_left -= length;
  }
  *inbuf = (char*)in;
  *inbytesleft = in_left;
  if (out != NULL) {
    *outbuf = out;
    *outbytesleft = out_left;
  }
  if (error != 0) {
    errno = error;
    return (size_t)-1;
  }
  return 0;
}

int iconv_close(iconv_t cd) {
  if (!IsOpen(cd)) {
    errno = EBADF;
    return -1;
  }
  free(cd);
  return 0;
}

static void DescribeSide(const Charset* charset, iconv_windows_side* side) {
  if (side == NULL) return;
  side->requested_code_page = charset->form == kFormCodePage ? charset->requested_code_page : 0;
  side->code_page = charset->form == kFormCodePage ? charset->code_page : 0;
  side->substituted = charset->substituted;
}

int iconv_windows_describe(iconv_t cd, iconv_windows_side* from, iconv_windows_side* to) {
  if (!IsOpen(cd)) {
    errno = EBADF;
    return -1;
  }
  DescribeSide(&cd->from, from);
  DescribeSide(&cd->to, to);
  return 0;
}
