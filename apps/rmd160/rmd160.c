/* rmd160: prints the RIPEMD-160 digest of each named file, or of standard
 * input.
 *
 * The program lives in the library (see morvane/rmd160.h): this file defines
 * no main, so the program starts in the main that libmorvane exports. */
#include <morvane/rmd160.h>
