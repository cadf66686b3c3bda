/* The floors of the edit benchmark.
     write_floor FOLDER COUNT SIZE
   writes COUNT new files of SIZE bytes into FOLDER, then has them on disk
   with one syncfs: what making as many files costs at the least.
     write_floor --replace FOLDER
   replaces each file of FOLDER in one step with the least a durable
   replace can do: reads it, writes its bytes to a new file beside it, one
   syncfs for all, renames each new file over its old one, flushes the
   folder once.  No parsing, no checks: what any program that keeps every
   file whole through a crash must pay. */
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int replace_all(const char* folder) {
  const int dir = open(folder, O_RDONLY | O_DIRECTORY);
  DIR* list = dir < 0 ? NULL : fdopendir(dup(dir));
  if (list == NULL) return 1;
  char (*names)[256] = NULL;
  size_t count = 0, room = 0;
  for (struct dirent* e; (e = readdir(list)) != NULL;) {
    if (e->d_type != DT_REG) continue;
    if (count == room && (names = realloc(names, (room = room ? 2 * room : 1024) * sizeof *names)) == NULL) return 1;
    snprintf(names[count++], sizeof *names, "%s", e->d_name);
  }
  closedir(list);
  char bytes[65536], temporary[32];
  for (size_t i = 0; i < count; ++i) {
    const int in = openat(dir, names[i], O_RDONLY | O_CLOEXEC);
    const ssize_t size = in < 0 ? -1 : read(in, bytes, sizeof bytes);
    if (size < 0 || close(in) != 0) return 1;
    snprintf(temporary, sizeof temporary, ".floor-%zu", i);
    const int out = openat(dir, temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (out < 0 || write(out, bytes, (size_t)size) != size || close(out) != 0) return 1;
  }
  if (syncfs(dir) != 0) return 1;
  for (size_t i = 0; i < count; ++i) {
    snprintf(temporary, sizeof temporary, ".floor-%zu", i);
    if (renameat(dir, temporary, dir, names[i]) != 0) return 1;
  }
  free(names);
  return fsync(dir) == 0 ? 0 : 1;
}

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "--replace") == 0) return replace_all(argv[2]);
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
