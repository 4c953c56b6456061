// rondel-monitor: prints the library's diagnostic datagrams as they arrive.
//
// It opens one UDP socket, binds it where --listen says and only ever reads
// from it: the monitor sends nothing, so it can run anywhere on a venue's
// network without being seen there. Signals are blocked except while waiting
// in ppoll, so a Ctrl-C between two datagrams is never lost and the count
// table is always printed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <regex.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "monitor_format.h"

namespace {

using rondel::tools::Datagram;
using rondel::tools::Terminal;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char kUsage[] = R"(Usage: rondel-monitor [options]

Listens for the diagnostic datagrams that librondel.so sends (KvDebugDb and the
progress texts of its playback and file-server calls) and prints one line per
datagram:

  HH:MM:SS.mmm SENDER TEXT      local time of arrival, sender's address:port

Texts in code page 936 are shown converted to UTF-8 when the terminal (LC_CTYPE)
is UTF-8, as they are on a GBK/GB18030 terminal; control bytes and bytes that
are no such text show as \xHH, so one datagram is always one line.

Options:
  --listen ADDR:PORT  the IPv4 address and UDP port to listen on (default
                      0.0.0.0:6001, which receives the venue's broadcasts; the
                      library sends to 127.0.0.1:PORT when RONDEL_DIAG_TARGET
                      names it). Port 0 takes a free port.
  --grep PATTERN      only datagrams whose text matches PATTERN, a POSIX
                      extended regular expression searched anywhere in the text
                      as the line shows it (the bytes with --raw): a plain word
                      matches as a substring
  --raw               texts as the bytes that arrived, unconverted
  --json              one JSON object per line instead:
                        {"time":"2024-05-01T21:03:07.123+08:00",
                         "sender":"127.0.0.1:40000","size":4,
                         "text":"...","hex":"b8e8c7fa"}
                      "text" is the text in UTF-8 (null when it is no code page
                      936 text), "hex" every byte; valid JSON for any payload
  --count             on exit, a table of the texts received (after --grep)
                      with how many datagrams carried each, most frequent first;
                      with --json, one {"counts":[...],"total":N} line
  --for SECONDS       exit after SECONDS (a decimal number); otherwise run
                      until Ctrl-C (SIGINT) or SIGTERM
  --help              this text
  --version           the version

Once listening it writes "rondel-monitor: listening on ADDR:PORT" to standard
error (with the port taken when 0 was asked for).

Exit status: 0 stopped by Ctrl-C, SIGTERM or --for; 1 cannot listen or receive;
2 usage error.
)";

struct Options {
  sockaddr_in listen_address{};
  bool grep = false;
  regex_t pattern{};
  bool raw = false;
  bool json = false;
  bool count = false;
  double seconds = 0;  // 0: until a signal
};

int UsageError(const std::string& message) {
  std::fprintf(stderr,
               "rondel-monitor: %s\n"
               "usage: rondel-monitor [--listen ADDR:PORT] [--grep PATTERN] "
               "[--raw] [--json] [--count] [--for SECONDS]\n",
               message.c_str());
  return kExitUsage;
}

bool ParseListen(const std::string& text, sockaddr_in* address) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon + 1 == text.size()) return false;
  const std::string host = text.substr(0, colon);
  const std::string port = text.substr(colon + 1);
  if (port.size() > 5 ||
      port.find_first_not_of("0123456789") != std::string::npos)
    return false;
  long number = std::strtol(port.c_str(), nullptr, 10);
  if (number > 65535) return false;
  std::memset(address, 0, sizeof(*address));
  address->sin_family = AF_INET;
  address->sin_port = htons(static_cast<uint16_t>(number));
  return inet_pton(AF_INET, host.c_str(), &address->sin_addr) == 1;
}

bool ParseSeconds(const std::string& text, double* seconds) {
  char* end = nullptr;
  errno = 0;
  *seconds = std::strtod(text.c_str(), &end);
  return !text.empty() && *end == '\0' && errno == 0 &&
         std::isfinite(*seconds) && *seconds > 0 && *seconds <= 1e7;
}

// Fills `options`; on a usage problem prints it and returns false with the
// exit status in *status.
bool ParseArguments(int argc, char** argv, Options* options, int* status) {
  options->listen_address.sin_family = AF_INET;
  options->listen_address.sin_addr.s_addr = htonl(INADDR_ANY);
  options->listen_address.sin_port = htons(6001);
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    std::string text;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      *status = kExitOk;
      return false;
    } else if (arg == "--version") {
      std::printf("rondel-monitor %s\n", RONDEL_VERSION);
      *status = kExitOk;
      return false;
    } else if (arg == "--listen") {
      if (!value(&text) || !ParseListen(text, &options->listen_address)) {
        *status = UsageError("--listen takes ADDR:PORT (IPv4, port 0-65535)");
        return false;
      }
    } else if (arg == "--grep") {
      if (!value(&text)) {
        *status = UsageError("--grep takes a pattern");
        return false;
      }
      if (options->grep) regfree(&options->pattern);
      int rc =
          regcomp(&options->pattern, text.c_str(), REG_EXTENDED | REG_NOSUB);
      if (rc != 0) {
        char reason[256];
        regerror(rc, &options->pattern, reason, sizeof(reason));
        *status = UsageError("--grep " + text + ": " + reason);
        return false;
      }
      options->grep = true;
    } else if (arg == "--raw") {
      options->raw = true;
    } else if (arg == "--json") {
      options->json = true;
    } else if (arg == "--count") {
      options->count = true;
    } else if (arg == "--for") {
      if (!value(&text) || !ParseSeconds(text, &options->seconds)) {
        *status = UsageError("--for takes a number of seconds above 0");
        return false;
      }
    } else {
      *status = UsageError("unknown argument " + arg);
      return false;
    }
  }
  return true;
}

std::string AddressText(const sockaddr_in& address) {
  char host[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &address.sin_addr, host, sizeof(host));
  return std::string(host) + ":" + std::to_string(ntohs(address.sin_port));
}

volatile sig_atomic_t stop_requested = 0;

void RequestStop(int) { stop_requested = 1; }

// Writes one line and flushes it, so a pipe or a file sees each datagram as it
// arrives.
void PrintLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

double Now() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) +
         static_cast<double>(now.tv_nsec) * 1e-9;
}

int Run(const Options& options) {
  const Terminal terminal = rondel::tools::CurrentTerminal();

  // Signals wait until ppoll opens the window for them.
  sigset_t blocked, waiting_mask;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGINT);
  sigaddset(&blocked, SIGTERM);
  sigprocmask(SIG_BLOCK, &blocked, &waiting_mask);
  sigdelset(&waiting_mask, SIGINT);
  sigdelset(&waiting_mask, SIGTERM);
  struct sigaction action {};
  action.sa_handler = RequestStop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    std::fprintf(stderr, "rondel-monitor: socket: %s\n", std::strerror(errno));
    return kExitFailure;
  }
  // Room for a burst (every progress text of many GetNextVideo calls) while
  // the terminal is slow to take the lines.
  int buffer_size = 1 << 20;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer_size, sizeof(buffer_size));
  sockaddr_in bound = options.listen_address;
  socklen_t bound_length = sizeof(bound);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&options.listen_address),
           sizeof(options.listen_address)) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &bound_length) !=
          0) {
    std::fprintf(stderr, "rondel-monitor: cannot listen on %s: %s\n",
                 AddressText(options.listen_address).c_str(),
                 std::strerror(errno));
    close(fd);
    return kExitFailure;
  }
  std::fprintf(stderr, "rondel-monitor: listening on %s\n",
               AddressText(bound).c_str());
  std::fflush(stderr);

  const double deadline = options.seconds > 0 ? Now() + options.seconds : 0;
  rondel::tools::TextCounts counts;
  // Larger than any UDP payload, so no datagram is cut.
  std::vector<char> buffer(65536);
  int status = kExitOk;
  while (!stop_requested) {
    timespec timeout{};
    const timespec* wait = nullptr;
    if (deadline > 0) {
      double left = deadline - Now();
      if (left <= 0) break;
      timeout.tv_sec = static_cast<time_t>(left);
      timeout.tv_nsec =
          static_cast<long>((left - static_cast<double>(timeout.tv_sec)) * 1e9);
      wait = &timeout;
    }
    pollfd ready{fd, POLLIN, 0};
    int events = ppoll(&ready, 1, wait, &waiting_mask);
    if (events < 0 && errno == EINTR) continue;
    if (events < 0) {
      std::fprintf(stderr, "rondel-monitor: poll: %s\n", std::strerror(errno));
      status = kExitFailure;
      break;
    }
    if (events == 0) continue;
    sockaddr_in from{};
    socklen_t from_length = sizeof(from);
    ssize_t size = recvfrom(fd, buffer.data(), buffer.size(), MSG_DONTWAIT,
                            reinterpret_cast<sockaddr*>(&from), &from_length);
    if (size < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      std::fprintf(stderr, "rondel-monitor: receive: %s\n",
                   std::strerror(errno));
      status = kExitFailure;
      break;
    }
    Datagram datagram;
    clock_gettime(CLOCK_REALTIME, &datagram.received);
    datagram.sender = AddressText(from);
    datagram.text.assign(buffer.data(), static_cast<size_t>(size));
    const std::string shown =
        options.raw ? datagram.text
                    : rondel::tools::ShownText(datagram.text, terminal);
    if (options.grep &&
        regexec(&options.pattern, shown.c_str(), 0, nullptr, 0) != 0)
      continue;
    if (options.count) ++counts[datagram.text];
    PrintLine(options.json ? rondel::tools::JsonLine(datagram)
                           : rondel::tools::PlainLine(datagram, shown));
  }
  close(fd);
  if (options.count) {
    if (options.json) {
      PrintLine(rondel::tools::CountJson(counts));
    } else {
      std::fputs(
          rondel::tools::CountTable(counts, terminal, options.raw).c_str(),
          stdout);
      std::fflush(stdout);
    }
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  Options options;
  int status = kExitOk;
  if (!ParseArguments(argc, argv, &options, &status)) return status;
  status = Run(options);
  if (options.grep) regfree(&options.pattern);
  return status;
}
