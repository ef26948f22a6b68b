// BIO_debug_callback: a ready-made watcher that prints one line per stream
// operation to the stream in its callback argument, or to standard error.
//
// The line starts with "BIO[<address>]:", the address in at least eight
// upper-case hexadecimal digits (all of them on this 64-bit platform), and
// the operation's text follows directly behind it.

#include <cstdint>
#include <cstdio>
#include <cstring>

#include <morvane/bio.h>

/* see morvane/bio.h */
long BIO_debug_callback(BIO* bio, int cmd, const char* argp, int argi, long argl, long ret) {
  (void)argp;
  (void)argl;
  long r = (cmd & BIO_CB_RETURN) ? ret : 1;

  char buf[256];
  BIO_snprintf(buf, sizeof(buf),
               "BIO[%08lX]:", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(bio)));
  size_t at = strlen(buf);
  char* p = buf + at;
  size_t room = sizeof(buf) - at;
  const char* name = bio->method->name;
  bool fd = (bio->method->type & BIO_TYPE_DESCRIPTOR) != 0;

  switch (cmd) {
    case BIO_CB_FREE:
      BIO_snprintf(p, room, "Free - %s\n", name);
      break;
    case BIO_CB_READ:
      if (fd)
        BIO_snprintf(p, room, "read(%d,%d) - %s fd=%d\n", bio->num, argi, name, bio->num);
      else
        BIO_snprintf(p, room, "read(%d,%d) - %s\n", bio->num, argi, name);
      break;
    case BIO_CB_WRITE:
      if (fd)
        BIO_snprintf(p, room, "write(%d,%d) - %s fd=%d\n", bio->num, argi, name, bio->num);
      else
        BIO_snprintf(p, room, "write(%d,%d) - %s\n", bio->num, argi, name);
      break;
    case BIO_CB_PUTS:
      BIO_snprintf(p, room, "puts() - %s\n", name);
      break;
    case BIO_CB_GETS:
      BIO_snprintf(p, room, "gets(%d) - %s\n", argi, name);
      break;
    case BIO_CB_CTRL:
      BIO_snprintf(p, room, "ctrl(%d) - %s\n", argi, name);
      break;
    case BIO_CB_RETURN | BIO_CB_READ:
      BIO_snprintf(p, room, "read return %ld\n", ret);
      break;
    case BIO_CB_RETURN | BIO_CB_WRITE:
      BIO_snprintf(p, room, "write return %ld\n", ret);
      break;
    case BIO_CB_RETURN | BIO_CB_PUTS:
      BIO_snprintf(p, room, "puts return %ld\n", ret);
      break;
    case BIO_CB_RETURN | BIO_CB_GETS:
      BIO_snprintf(p, room, "gets return %ld\n", ret);
      break;
    case BIO_CB_RETURN | BIO_CB_CTRL:
      BIO_snprintf(p, room, "ctrl return %ld\n", ret);
      break;
    default:
      BIO_snprintf(p, room, "bio callback - unknown type (%d)\n", cmd);
      break;
  }

  BIO* out = reinterpret_cast<BIO*>(bio->cb_arg);
  if (out != nullptr)
    BIO_write(out, buf, static_cast<int>(strlen(buf)));
  else
    fputs(buf, stderr);
  return r;
}
