/* The floor of a migration's copy: the least a copier must do to put a
 * source mail tree into the target's layout. Four threads take the
 * mailboxes in turn; each makes the mailbox and its five standard folders
 * and copies every message file into the folder its extension names (a
 * numbered one into a folder of that number), by open, exclusive create,
 * copy_file_range and close. No fsync, no index, no configuration file.
 *
 *     floor_copy SOURCE_MAIL_DIR TARGET_MAIL_DIR [THREADS]
 *
 * Built and run by bench/run; exits 1 on the first failure, naming it. */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#define MAX_THREADS 64

static const char* const kStandard[][2] = {
    {"in", "INBOX"}, {"sed", "Sent"}, {"out", "Draft"}, {"del", "Trash"}};

static const char* source_dir;
static const char* target_dir;
static char** boxes;
static size_t box_count;
static atomic_size_t next_box;

static void die(const char* what, const char* path) {
  fprintf(stderr, "floor_copy: %s %s: %s\n", what, path, strerror(errno));
  exit(1);
}

static void make_dir(const char* path) {
  if (mkdir(path, 0755) != 0 && errno != EEXIST) die("mkdir", path);
}

/* The folder a message goes to, by its extension; NULL for no message.
 * *numbered tells a user folder (its number) from a standard one. */
static const char* folder_of(const char* name, int* numbered) {
  const char* dot = strrchr(name, '.');
  *numbered = 0;
  if (dot == NULL || dot[1] == '\0') return NULL;
  for (size_t i = 0; i < sizeof kStandard / sizeof kStandard[0]; ++i) {
    if (strcasecmp(dot + 1, kStandard[i][0]) == 0) return kStandard[i][1];
  }
  for (const char* c = dot + 1; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return NULL;
  }
  *numbered = 1;
  return dot + 1;
}

static void copy_file(const char* from, const char* to) {
  int in = open(from, O_RDONLY | O_CLOEXEC);
  if (in < 0) die("open", from);
  int out = open(to, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (out < 0) die("create", to);
  for (;;) {
    ssize_t n = copy_file_range(in, NULL, out, NULL, 1 << 30, 0);
    if (n == 0) break;
    if (n < 0) die("copy_file_range", to);
  }
  close(out);
  close(in);
}

static void copy_box(const char* name) {
  char from[4096], to[4096];
  snprintf(to, sizeof to, "%s/%s", target_dir, name);
  make_dir(to);
  for (size_t i = 0; i < 4; ++i) {
    snprintf(to, sizeof to, "%s/%s/%s", target_dir, name, kStandard[i][1]);
    make_dir(to);
  }
  snprintf(to, sizeof to, "%s/%s/Spam", target_dir, name);
  make_dir(to);
  snprintf(from, sizeof from, "%s/%s", source_dir, name);
  DIR* dir = opendir(from);
  if (dir == NULL) die("opendir", from);
  /* User folders made so far, by number: each is made once. */
  char made[64][16];
  size_t made_count = 0;
  struct dirent* entry;
  while ((entry = readdir(dir)) != NULL) {
    int numbered;
    const char* folder = folder_of(entry->d_name, &numbered);
    if (folder == NULL) continue;
    size_t m = 0;
    while (numbered && m < made_count && strcmp(made[m], folder) != 0) ++m;
    if (numbered && m == made_count) {
      snprintf(to, sizeof to, "%s/%s/%s", target_dir, name, folder);
      make_dir(to);
      if (made_count < 64 && strlen(folder) < 16) {
        strcpy(made[made_count++], folder);
      }
    }
    snprintf(from, sizeof from, "%s/%s/%s", source_dir, name, entry->d_name);
    snprintf(to, sizeof to, "%s/%s/%s/%s", target_dir, name, folder,
             entry->d_name);
    copy_file(from, to);
  }
  closedir(dir);
}

static void* work(void* unused) {
  (void)unused;
  for (;;) {
    size_t i = atomic_fetch_add(&next_box, 1);
    if (i >= box_count) return NULL;
    copy_box(boxes[i]);
  }
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: floor_copy SOURCE_MAIL TARGET_MAIL [THREADS]\n");
    return 2;
  }
  source_dir = argv[1];
  target_dir = argv[2];
  int threads = argc > 3 ? atoi(argv[3]) : 4;
  if (threads < 1 || threads > MAX_THREADS) threads = 4;
  make_dir(target_dir);
  DIR* dir = opendir(source_dir);
  if (dir == NULL) die("opendir", source_dir);
  size_t room = 1024;
  boxes = malloc(room * sizeof *boxes);
  struct dirent* entry;
  while ((entry = readdir(dir)) != NULL) {
    if (entry->d_name[0] == '.') continue;
    if (box_count == room) boxes = realloc(boxes, (room *= 2) * sizeof *boxes);
    if (boxes == NULL) die("realloc", source_dir);
    boxes[box_count++] = strdup(entry->d_name);
  }
  closedir(dir);
  pthread_t ids[MAX_THREADS];
  for (int i = 0; i < threads; ++i) pthread_create(&ids[i], NULL, work, NULL);
  for (int i = 0; i < threads; ++i) pthread_join(ids[i], NULL);
  return 0;
}
