/* The least a thread-per-connection HTTP/1.0 server can do for a static file:
 * the benchmark's yardstick for what tovksrv's design could reach at best.
 *
 *   thread-limit PORT ROOT ACCESS_LOG
 *
 * Listens on 127.0.0.1:PORT, starts a detached thread for each connection,
 * serves GET for the files under ROOT (no listing, no CGI), keeps the
 * connection when asked with "Connection: Keep-Alive" and logs each request
 * with one write. Built by bench/run.sh; not part of the product. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

enum { kHeadBytes = 2048 };               /* longest request head: the benchmark sends ~100 bytes, and a
                                             small buffer keeps an idle thread to the fewest stack pages */
enum { kPathBytes = 4096 };               /* PATH_MAX: a longer name cannot be opened anyway */
enum { kStackBytes = 1 << 20 };           /* the same thread stack as tovksrv's connections */
static const int kIdleSeconds = 15;       /* tovksrv drops an idle connection after 15 s too */
static const char *root;
static int access_log;

static const char *type_of(const char *path) {
  const char *dot = strrchr(path, '.');
  if (dot && !strcmp(dot, ".html")) return "text/html";
  if (dot && !strcmp(dot, ".txt")) return "text/plain";
  return "application/octet-stream";
}

/* Answers one request head; returns 1 when the connection stays open. Not inlined: its
 * buffers would deepen the stack every idle connection waits on. */
__attribute__((noinline)) static int serve(int sock, char *head) {
  char path[kPathBytes], reply[512], line[kPathBytes + 128];
  int keep = strcasestr(head, "\nConnection: Keep-Alive\r") != NULL;
  char *url = strchr(head, ' '), *end = url ? strchr(url + 1, ' ') : NULL;
  if (strncmp(head, "GET /", 5) || !end) return 0;
  *end = '\0';
  url[strcspn(url, "?")] = '\0';
  int fd = -1, status = 404, n;
  struct stat st;
  if (!strstr(url + 1, "..") && snprintf(path, sizeof path, "%s/%s", root, url + 1) < (int)sizeof path &&
      (fd = open(path, O_RDONLY | O_CLOEXEC)) >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
    status = 200;
  if (status == 200)
    n = snprintf(reply, sizeof reply, "HTTP/1.0 200 OK\r\nContent-Type: %s\r\nContent-Length: %lld\r\n%s\r\n",
                 type_of(path), (long long)st.st_size, keep ? "Connection: Keep-Alive\r\n" : "");
  else
    n = snprintf(reply, sizeof reply, "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n%s\r\n",
                 keep ? "Connection: Keep-Alive\r\n" : "");
  /* MSG_MORE holds the head back so that it leaves with the body. */
  int ok = send(sock, reply, n, status == 200 && st.st_size > 0 ? MSG_MORE | MSG_NOSIGNAL : MSG_NOSIGNAL) == n;
  for (off_t sent = 0; ok && status == 200 && sent < st.st_size;)
    ok = sendfile(sock, fd, &sent, st.st_size - sent) > 0;
  if (fd >= 0) close(fd);
  struct tm tm;
  time_t now = time(NULL);
  gmtime_r(&now, &tm);
  n = snprintf(line, sizeof line, "127.0.0.1 - - [%02d/%02d/%04d:%02d:%02d:%02d +0000] \"GET %s\" %d %lld\n",
               tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec, url + 1, status,
               status == 200 ? (long long)st.st_size : 0LL);
  if (write(access_log, line, n < (int)sizeof line ? n : (int)sizeof line - 1) < 0) return 0;
  return ok && keep;
}

static void *connection(void *arg) {
  int sock = (int)(long)arg;
  char buf[kHeadBytes + 1];
  size_t have = 0;
  for (;;) {
    char *stop;
    buf[have] = '\0';
    while (!(stop = strstr(buf, "\r\n\r\n"))) {  /* the request head, read in as few reads as it comes in */
      ssize_t got = have < kHeadBytes ? read(sock, buf + have, kHeadBytes - have) : 0;
      if (got <= 0) goto done;
      have += got;
      buf[have] = '\0';
    }
    size_t used = stop + 4 - buf;
    stop[2] = '\0';
    if (!serve(sock, buf)) break;
    memmove(buf, buf + used, have - used);  /* a pipelined next request stays */
    have -= used;
  }
done:
  close(sock);
  return NULL;
}

int main(int argc, char **argv) {
  if (argc != 4) { fprintf(stderr, "usage: %s PORT ROOT ACCESS_LOG\n", argv[0]); return 2; }
  root = argv[2];
  access_log = open(argv[3], O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  int lsock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), one = 1;
  struct sockaddr_in addr = {.sin_family = AF_INET, .sin_port = htons(atoi(argv[1])),
                             .sin_addr.s_addr = htonl(INADDR_LOOPBACK)};
  /* An accepted socket inherits the listener's options: no calls per connection for them. */
  struct timeval idle = {kIdleSeconds, 0};
  setsockopt(lsock, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  setsockopt(lsock, SOL_SOCKET, SO_RCVTIMEO, &idle, sizeof idle);
  setsockopt(lsock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (access_log < 0 || bind(lsock, (struct sockaddr *)&addr, sizeof addr) || listen(lsock, SOMAXCONN)) {
    perror("thread-limit");
    return 1;
  }
  signal(SIGPIPE, SIG_IGN);
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_attr_setstacksize(&attr, kStackBytes);
  for (;;) {
    pthread_t thread;
    int sock = accept4(lsock, NULL, NULL, SOCK_CLOEXEC);
    if (sock >= 0 && pthread_create(&thread, &attr, connection, (void *)(long)sock) != 0) close(sock);
  }
}
