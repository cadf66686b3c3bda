/* The floor of the edit benchmark: writes COUNT new files of SIZE bytes
   into FOLDER, then has them on disk with one syncfs.  Usage:
   write_floor FOLDER COUNT SIZE */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const int dir = open(argv[1], O_RDONLY | O_DIRECTORY);
  const long count = atol(argv[2]);
  const size_t size = (size_t)atol(argv[3]);
  char* bytes = calloc(size ? size : 1, 1);
  if (dir < 0 || bytes == NULL) return 1;
  memset(bytes, 'L', size);
  char name[32];
  for (long i = 0; i < count; ++i) {
    snprintf(name, sizeof name, "f%ld.lnk", i);
    const int fd = openat(dir, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 || write(fd, bytes, size) != (ssize_t)size || close(fd) != 0) return 1;
  }
  return syncfs(dir) == 0 ? 0 : 1;
}
