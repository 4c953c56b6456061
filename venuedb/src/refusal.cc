#include "refusal.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "channel.h"
#include "charset.h"
#include "journal.h"
#include "login.h"
#include "reply.h"
#include "tokens.h"

namespace venuedb {

namespace {

constexpr size_t kHeaderSize = kPacketHeaderSize;
// A LOGIN7 is a few hundred bytes; its offsets cannot reach past 64 KiB.
constexpr size_t kMaxLoginBytes = 64 << 10;

// Sends a reply message as one packet without waiting: the socket's buffer
// is empty and the reply small, so anything short of all of it means the
// client is not listening.
bool SendReply(int fd, const std::string& payload) {
  const std::string packet =
      PacketHeader(kReply, true, payload.size() + kHeaderSize, 0, 1) + payload;
  return send(fd, packet.data(), packet.size(), MSG_NOSIGNAL | MSG_DONTWAIT) ==
         static_cast<ssize_t>(packet.size());
}

}  // namespace

void JournalRefusedLogin(Journal* journal, int64_t conn_id,
                         const LoginRequest& login) {
  journal->SetLogin(conn_id, login.user, login.password, login.app, login.host,
                    login.database, TdsVersionName(login.tds_version), 0, true);
  journal->Record(conn_id, "login", login.user, login.database,
                  Outcome::kFailed);
}

void Refusals::Add(int fd, int64_t conn_id, const RefusalReason& reason) {
  Pending p;
  p.fd = fd;
  p.conn_id = conn_id;
  p.reason = reason;
  p.deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms_);
  if (pending_.size() >= max_pending_) {
    Finish(&p);
    return;
  }
  pending_.push_back(std::move(p));
}

void Refusals::AppendPollFds(std::vector<pollfd>* fds) const {
  for (const Pending& p : pending_) fds->push_back({p.fd, POLLIN, 0});
}

void Refusals::Service(const pollfd* fds) {
  const auto now = std::chrono::steady_clock::now();
  for (size_t i = 0; i < pending_.size(); ++i) {
    Pending& p = pending_[i];
    if (fds[i].revents != 0) Read(&p);
    if (!p.done && now >= p.deadline) p.done = true;
    if (p.done) Finish(&p);
  }
  pending_.erase(std::remove_if(pending_.begin(), pending_.end(),
                                [](const Pending& p) { return p.fd < 0; }),
                 pending_.end());
}

int Refusals::NextTimeoutMs() const {
  if (pending_.empty()) return -1;
  auto next = pending_.front().deadline;
  for (const Pending& p : pending_) next = std::min(next, p.deadline);
  auto left = std::chrono::ceil<std::chrono::milliseconds>(
                  next - std::chrono::steady_clock::now())
                  .count();
  return static_cast<int>(std::clamp<int64_t>(left, 0, 60 * 1000));
}

void Refusals::CloseAll() {
  for (Pending& p : pending_) Finish(&p);
  pending_.clear();
}

void Refusals::Read(Pending* p) {
  char buffer[4096];
  ssize_t n = recv(p->fd, buffer, sizeof buffer, MSG_DONTWAIT);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
    return;
  if (n <= 0) {
    p->done = true;
    return;
  }
  p->input.append(buffer, static_cast<size_t>(n));
  while (!p->done && p->input.size() >= kHeaderSize) {
    const size_t length = (static_cast<uint8_t>(p->input[2]) << 8) |
                          static_cast<uint8_t>(p->input[3]);
    if (length < kHeaderSize || p->message.size() + length > kMaxLoginBytes) {
      p->done = true;
      return;
    }
    if (p->input.size() < length) return;
    const uint8_t type = static_cast<uint8_t>(p->input[0]);
    const bool last = (p->input[1] & 0x01) != 0;
    p->message.append(p->input, kHeaderSize, length - kHeaderSize);
    p->input.erase(0, length);
    if (last) {
      Answer(p, type);
      p->message.clear();
    }
  }
}

void Refusals::Answer(Pending* p, uint8_t type) {
  if (type == kPrelogin) {
    if (!SendReply(p->fd, PreloginReply())) p->done = true;
    return;
  }
  p->done = true;
  LoginRequest login;
  if (type != kLogin7 || !ParseLogin7(p->message, &login)) return;
  p->login = login.user;
  JournalRefusedLogin(journal_, p->conn_id, login);
  const bool tds72 = login.tds_version >= kTds72;
  ByteWriter w;
  PutServerMessage(&w, tds72, &charset_, p->reason.number, p->reason.severity,
                   p->reason.message);
  PutDone(&w, tds72, kDone, kDoneError, 0, 0);
  SendReply(p->fd, w.bytes());
}

void Refusals::Finish(Pending* p) {
  if (p->fd < 0) return;
  shutdown(p->fd, SHUT_RDWR);
  close(p->fd);
  p->fd = -1;
  journal_->CloseConnection(p->conn_id, p->login, p->reason.journal_text, true);
}

}  // namespace venuedb
