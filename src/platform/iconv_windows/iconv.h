/*
 * iconv for Windows: the POSIX character-set conversion interface on the Windows code-page
 * API, for FreeTDS's Windows build (its sources include <iconv.h>; Windows has none).
 *
 * Encodings, by the names FreeTDS and glibc use (case does not matter):
 *   UTF-8 (UTF8, CP65001)                       converted in code
 *   UTF-16LE, UCS-2LE (UNICODELITTLE, CP1200)   converted in code; UCS-2 is read as UTF-16,
 *   UTF-16BE, UCS-2BE (UNICODEBIG, CP1201)        so a surrogate pair passes whole
 *   UCS-4 (UCS-4BE, UTF-32BE), UCS-4LE (UTF-32LE)  converted in code
 *   ISO-8859-1 (LATIN1, ISO8859-1, CP819)       converted in code (it is the first 256 code points)
 *   US-ASCII (ASCII, ANSI_X3.4-1968)            converted in code
 *   CP936, GBK (WINDOWS-936, MS936)             code page 936, with GBK's byte structure
 *   GB18030                                     code page 54936, or 936 where 54936 is not
 *                                               installed (see iconv_windows_describe)
 *   CPnnn, WINDOWS-nnn                          any installed single- or double-byte code page
 * Anything else, and any "//" suffix, is refused by iconv_open with EINVAL.
 *
 * Behaviour is POSIX's, with no irreversible conversions: iconv converts whole characters
 * only and stops at the first one it cannot convert, with *inbuf just before it and *outbuf
 * just after the last character written:
 *   EILSEQ  an invalid input sequence, or a character the output set cannot represent (no
 *           best-fit substitutes, no default character: every conversion is checked by
 *           converting its result back);
 *   EINVAL  the input ends inside a character that could still be valid;
 *   E2BIG   the next character does not fit in what is left of the output.
 * It returns 0 on success (nothing is ever converted irreversibly) and (size_t)-1 on error.
 * A null inbuf or *inbuf resets the (always empty) shift state and returns 0.
 *
 * A descriptor is never changed by iconv, so several threads may share one.
 */
#ifndef RONDEL_PLATFORM_ICONV_WINDOWS_ICONV_H_
#define RONDEL_PLATFORM_ICONV_WINDOWS_ICONV_H_

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct iconv_windows_descriptor* iconv_t;

/* Returns a descriptor converting from `fromcode` to `tocode`, or (iconv_t)-1 with errno
   EINVAL when either is unknown or not installed. Free it with iconv_close. */
iconv_t iconv_open(const char* tocode, const char* fromcode);

size_t iconv(iconv_t cd, char** inbuf, size_t* inbytesleft, char** outbuf,
             size_t* outbytesleft);

/* Returns 0, or -1 with errno EBADF for (iconv_t)-1 or a null descriptor. */
int iconv_close(iconv_t cd);

/* What a descriptor really converts with, for each side. code_page is 0 for the encodings
   converted in code. substituted is 1 when the requested code page is not installed and a
   smaller one serves in its place: GB18030 asks for 54936 (every Windows since XP has it;
   wine 8 does not) and gets 936 (GBK). Then GB18030's four-byte sequences and the characters
   only they encode are EILSEQ, while its one- and two-byte sequences convert as in GB18030. */
typedef struct iconv_windows_side {
  unsigned requested_code_page;
  unsigned code_page;
  int substituted;
} iconv_windows_side;

/* Fills *from and *to (either may be null). Returns 0, or -1 with errno EBADF. */
int iconv_windows_describe(iconv_t cd, iconv_windows_side* from, iconv_windows_side* to);

#ifdef __cplusplus
}
#endif

#endif /* RONDEL_PLATFORM_ICONV_WINDOWS_ICONV_H_ */
