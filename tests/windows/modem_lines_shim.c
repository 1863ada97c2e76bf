/* Preloaded into Wine for the Windows tests: a pseudo-terminal has no modem
 * lines, so Wine's WaitCommEvent on one fails at once and the line-event
 * thread ends before anything can wait for it. Answering the modem-line
 * requests as a real port would makes WaitCommEvent wait, as it does on
 * hardware, so the tests see what an application on a real port sees.
 *
 *   cc -shared -fPIC -o modem_lines_shim.so modem_lines_shim.c -ldl
 *   LD_PRELOAD=$PWD/modem_lines_shim.so wine client.exe COM5
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <stddef.h>
#include <sys/ioctl.h>
#include <termios.h>

int ioctl(int fd, unsigned long request, ...) {
  static int (*real)(int, unsigned long, ...);
  if (real == NULL) real = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  const int result = real(fd, request, arg);
  if (result == 0) return 0;
  switch (request) {
    case TIOCMGET:
      /* Carrier, data set ready and clear to send: a reader that is on line. */
      *(int*)arg = TIOCM_CAR | TIOCM_DSR | TIOCM_CTS;
      return 0;
    case TIOCMSET:
    case TIOCMBIS:
    case TIOCMBIC:
      return 0;
    default:
      return result;
  }
}
