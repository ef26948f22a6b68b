// Automatic configuration from the default configuration file.

#include <stdio.h>
#include <stdlib.h>

#include <morvane/bio.h>
#include <morvane/conf.h>
#include <morvane/engine.h>
#include <morvane/err.h>

#include "internal/err_mark.h"

namespace {

// Set by MORVANE_no_config: later MORVANE_config calls do nothing.
constinit bool morvane_configured = false;

}  // namespace

/* see morvane/conf.h */
void MORVANE_config(const char* config_name) {
  if (morvane_configured) return;
  {
    // What the loaders queue is no error of the configuration; the
    // caller's own entries and mark stay.
    morvane::internal::ErrorMark mark;
    MORVANE_load_builtin_modules();
    ENGINE_load_builtin_engines();
    mark.pop();
  }
  if (CONF_modules_load_file(nullptr, config_name,
                             CONF_MFLAGS_DEFAULT_SECTION | CONF_MFLAGS_IGNORE_MISSING_FILE) > 0)
    return;
  ERR_load_crypto_strings();
  if (BIO* bio_err = BIO_new_fp(stderr, BIO_NOCLOSE)) {
    BIO_printf(bio_err, "Auto configuration failed\n");
    ERR_print_errors(bio_err);
    BIO_free(bio_err);
  }
  exit(1);
}

void MORVANE_no_config(void) {
  morvane_configured = true;
}
