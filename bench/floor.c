/* The floors of the benchmarks: what a job costs at the least, done by a
   program that knows the bytes to write and checks nothing.
     floor write FOLDER COUNT SIZE
   writes COUNT new files of SIZE bytes into FOLDER and has them on disk with
   one syncfs: what making as many files costs at the least.
     floor make TARGET FOLDER COUNT SIZE
   looks at TARGET once, writes the COUNT files under hidden names, one
   syncfs, renames each to its name and flushes the folder once: what making
   COUNT links in one folder durably costs at the least.
     floor replace FOLDER
   replaces each file of FOLDER in one step with the least a durable replace
   can do: reads it, writes its bytes to a new file beside it, one syncfs for
   all, renames each new file over its old one, flushes the folder once. */
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

typedef char Name[256];

int main(int argc, char** argv) {
  const int make = argc == 6 && strcmp(argv[1], "make") == 0;
  const int replace = argc == 3 && strcmp(argv[1], "replace") == 0;
  if (!make && !replace && !(argc == 5 && strcmp(argv[1], "write") == 0)) {
    fprintf(stderr, "usage: floor write FOLDER COUNT SIZE | make TARGET FOLDER COUNT SIZE | replace FOLDER\n");
    return 2;
  }
  struct stat st;
  if (make && stat(argv[2], &st) != 0) return 1;
  const int dir = open(argv[make ? 3 : 2], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return 1;
  Name *names = NULL, *hidden = NULL;
  size_t count = 0;
  if (replace) {
    DIR* list = fdopendir(dup(dir));
    size_t room = 0;
    for (struct dirent* e; list != NULL && (e = readdir(list)) != NULL;) {
      if (e->d_type != DT_REG) continue;
      if (count == room && (names = realloc(names, (room = room ? 2 * room : 1024) * sizeof *names)) == NULL) return 1;
      snprintf(names[count++], sizeof *names, "%s", e->d_name);
    }
    if (list == NULL || closedir(list) != 0) return 1;
  } else {
    count = (size_t)atol(argv[make ? 4 : 3]);
    if ((names = calloc(count + 1, sizeof *names)) == NULL) return 1;
    for (size_t i = 0; i < count; ++i) snprintf(names[i], sizeof *names, make ? "l%05zu.lnk" : "f%zu.lnk", i);
  }
  if ((hidden = calloc(count + 1, sizeof *hidden)) == NULL) return 1;
  static char bytes[65536];
  ssize_t size = replace ? 0 : atol(argv[make ? 5 : 4]);
  if (size < 0 || size > (ssize_t)sizeof bytes) return 1;
  memset(bytes, 'L', (size_t)size);
  for (size_t i = 0; i < count; ++i) {
    snprintf(hidden[i], sizeof *hidden, ".floor-%zu", i);
    if (replace) {
      const int in = openat(dir, names[i], O_RDONLY | O_CLOEXEC);
      if (in < 0 || (size = read(in, bytes, sizeof bytes)) < 0 || close(in) != 0) return 1;
    }
    const int out = openat(dir, make || replace ? hidden[i] : names[i], O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (out < 0 || write(out, bytes, (size_t)size) != size || close(out) != 0) return 1;
  }
  if (syncfs(dir) != 0) return 1;
  if (!make && !replace) return 0;
  for (size_t i = 0; i < count; ++i) {
    if (renameat(dir, hidden[i], dir, names[i]) != 0) return 1;
  }
  return fsync(dir) == 0 ? 0 : 1;
}
