// davfp-bench-launch: runs a program and reports its peak resident memory.
//
// Usage: davfp-bench-launch REPORT PROGRAM [ARG...]. Runs PROGRAM (found on PATH) with the arguments, waits
// for it, writes its peak resident set in KiB to the file REPORT, and exits with its exit status (128 + the
// signal when it was killed).
//
// Linux counts the memory of the process that started a program into the program's own peak: a process
// started from the benchmarks (a large C++ program) would never report less than they hold. Started from
// this small launcher, it counts only the launcher's few hundred KiB.
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: davfp-bench-launch REPORT PROGRAM [ARG...]\n");
    return 2;
  }
  pid_t pid = fork();
  if (pid < 0) {
    perror("fork");
    return 2;
  }
  if (pid == 0) {
    execvp(argv[2], argv + 2);
    perror(argv[2]);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0) {
  }
  FILE* report = fopen(argv[1], "w");
  if (report == nullptr || fprintf(report, "%ld\n", usage.ru_maxrss) < 0 || fclose(report) != 0) {
    perror(argv[1]);
    return 2;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
