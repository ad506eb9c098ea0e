/* rss_probe PROGRAM [ARG...]: runs PROGRAM with its output sent to
 * /dev/null, waits for it, and prints "<peak resident KiB> <exit status>".
 *
 * A benchmark cannot read a child's peak memory itself: Linux folds the
 * memory the exec'ing process had into the child's ru_maxrss, and a child
 * started from the benchmark (by vfork or fork) had the benchmark's. Started
 * from this small program instead, the figure is the program's own. */
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: rss_probe PROGRAM [ARG...]\n");
    return 2;
  }
  pid_t pid = fork();
  if (pid < 0) return 2;
  if (pid == 0) {
    int null_fd = open("/dev/null", O_WRONLY);
    if (null_fd >= 0) {
      dup2(null_fd, 1);
      dup2(null_fd, 2);
      close(null_fd);
    }
    execv(argv[1], argv + 1);
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  if (wait4(pid, &status, 0, &usage) < 0) return 2;
  printf("%ld %d\n", usage.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
  return 0;
}
