/* Morvane: the RIPEMD-160 file-digest program's functions.
 *
 * The library carries the program `rmd160` itself: its entry point `main` and
 * two helpers are exported, and the installed program is a stub linked
 * against the library.  This header declares `main`, so include it only
 * where these functions are called, never in a program of your own.
 *
 * Command line: `rmd160 [FILE...]`.  Each named file that can be opened and
 * read is digested and printed as "RIPEMD160(NAME)= " followed by 40
 * lower-case hexadecimal digits and a newline; with no arguments standard
 * input is digested and printed as the 40 digits and a newline alone.  A file
 * that cannot be opened or read is reported on standard error as NAME, a
 * colon, a blank and the system's text for the error, and prints nothing on
 * standard output.  The exit status is the number of inputs that failed
 * (at most 255).
 *
 * Null arguments: names and streams must be valid. */
#ifndef MORVANE_RMD160_H
#define MORVANE_RMD160_H

#include <stdio.h>

#include <morvane/export.h>

MORVANE_BEGIN_DECLS

/* The program's entry; ends the process with exit() and does not return. */
MORVANE_EXPORT int main(int argc, char **argv);
/* Digests everything readable from the descriptor of `f` and prints the 40
 * hexadecimal digits and a newline; on a read error prints no digest and
 * reports the error on standard error as "read: " and the system's text. */
MORVANE_EXPORT void do_fp(FILE *f);
/* Prints the 20 bytes at `md` as 40 lower-case hexadecimal digits and a
 * newline on standard output. */
MORVANE_EXPORT void pt(unsigned char *md);

MORVANE_END_DECLS

#endif /* MORVANE_RMD160_H */
