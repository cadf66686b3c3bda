/* The batch floor: what making COUNT links in one folder costs at the least,
   as a program that knows their bytes would make them durably.  It looks at
   the target once, writes COUNT new files of the link's size under hidden
   names, has them on disk with one sync of the file system, renames each to
   its name and flushes the folder once.

   Usage: floor TARGET FOLDER COUNT SIZE */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: floor TARGET FOLDER COUNT SIZE\n");
    return 2;
  }
  const long count = atol(argv[3]);
  const size_t size = (size_t)atol(argv[4]);
  struct stat st;
  if (stat(argv[1], &st) != 0) return perror(argv[1]), 1;
  const int folder = open(argv[2], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return perror(argv[2]), 1;
  char* bytes = calloc(1, size);
  char from[64], to[64];
  for (long i = 0; i < count; ++i) {
    snprintf(from, sizeof from, ".floor-%ld.lnk", i);
    const int fd = openat(folder, from, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 || write(fd, bytes, size) != (ssize_t)size || close(fd) != 0) return perror(from), 1;
  }
  if (syncfs(folder) != 0) return perror("syncfs"), 1;
  for (long i = 0; i < count; ++i) {
    snprintf(from, sizeof from, ".floor-%ld.lnk", i);
    snprintf(to, sizeof to, "l%05ld.lnk", i);
    if (renameat(folder, from, folder, to) != 0) return perror(to), 1;
  }
  if (fsync(folder) != 0) return perror("fsync"), 1;
  free(bytes);
  return 0;
}
