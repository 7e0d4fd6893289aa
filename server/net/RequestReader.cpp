#include "server/net/RequestReader.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string_view>

#include "server/net/Misc.h"
#include "server/net/Request.h"
#include "server/reply/SvrHttpReply.h"
#include "server/shell/Loging.h"

std::atomic<long long> RequestBodyBudgetBytes{kRequestBodyBudgetBytes};
std::atomic<long long> RequestBodyBytesHeld{0};

namespace {

using TClock = std::chrono::steady_clock;

std::string_view TrimBlanks(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return std::string_view();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A decimal count, blanks around it allowed; false for anything else.
// A count too large for 64 bits is still a count: it is reported as the
// largest value, which every limit refuses.
bool ParseDecimal(std::string_view text, long long& value) {
  const std::string_view digits = TrimBlanks(text);
  if (digits.empty()) return false;
  value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    if (value > (std::numeric_limits<long long>::max() - (c - '0')) / 10)
      value = std::numeric_limits<long long>::max();
    else
      value = value * 10 + (c - '0');
  }
  return true;
}

// A received head line may hold horizontal tabs and bytes of 128 and above
// (Windows-1250 texts), no other control byte: a NUL in a header value
// would cut the CGI environment into extra variables, a lone CR or LF
// would reach the log and the gateways as a line end.
bool HasForbiddenHeadByte(const std::string& line) {
  for (unsigned char c : line)
    if ((c < 32 && c != '\t') || c == 127) return true;
  return false;
}

// True when one of the comma-separated items of a header value is the word
// (in any letter case).
bool HasListItem(std::string_view value, std::string_view word) {
  std::size_t start = 0;
  while (start <= value.size()) {
    std::size_t comma = value.find(',', start);
    if (comma == std::string_view::npos) comma = value.size();
    if (SameText(TrimBlanks(value.substr(start, comma - start)), word)) return true;
    start = comma + 1;
  }
  return false;
}

TClock::time_point DeadlineIn(int seconds) { return TClock::now() + std::chrono::seconds(seconds); }

// The point by which a body must have come as far as it has: a grace from
// the end of the head, and for every byte received the time it takes at
// the least rate allowed. A slow start is forgiven as long as the average
// catches up, but the time in hand never exceeds the grace: otherwise a
// client that sends most of a large body at once would buy itself hours in
// which a byte every few seconds keeps the connection and its share of the
// body budget.
class TBodyPace {
 public:
  TBodyPace(int graceSeconds, long long bytesPerSecond)
      : Grace(std::chrono::seconds(graceSeconds)),
        Deadline(TClock::now() + Grace),
        BytesPerSecond(std::max<long long>(bytesPerSecond, 1)) {}
  void Received(long long bytes) {
    // Carried to the next call, so that many small reads add up to the
    // same time as one large one.
    Owed += bytes * 1000;
    Deadline += std::chrono::milliseconds(Owed / BytesPerSecond);
    Owed %= BytesPerSecond;
    Deadline = std::min(Deadline, TClock::now() + Grace);
  }

 private:
  TClock::duration Grace;

 public:
  TClock::time_point Deadline;

 private:
  long long BytesPerSecond;
  long long Owed = 0;  // thousandths of a byte's worth of time not yet given
};

}  // namespace

bool TBodyReservation::Fits(long long bytes) {
  return bytes <= RequestBodyBudgetBytes.load() - RequestBodyBytesHeld.load();
}

bool TBodyReservation::Take(long long bytes) {
  long long held = RequestBodyBytesHeld.load();
  do {
    if (bytes > RequestBodyBudgetBytes.load() - held) return false;
  } while (!RequestBodyBytesHeld.compare_exchange_weak(held, held + bytes));
  Bytes += bytes;
  return true;
}

void TBodyReservation::Release() {
  RequestBodyBytesHeld -= Bytes;
  Bytes = 0;
}

TRequestReader::TRequestReader(TByteSource& source, TReaderOutput output,
                               const TReaderLimits& limits, const std::atomic<bool>& terminated)
    : Source(source), Out(output), Limits(limits), Terminated(terminated) {}

void TRequestReader::StartRequest() {
  Out.Body.Clear();
  BodyShare.Release();
  Out.Status = 0;
  LeftUnread = false;
}

void TRequestReader::Refuse(uint16_t code) {
  if (Out.Status == 0) Out.Status = code;
  Out.CloseAfterReply = true;
  // The refusal comes before the end of the request; whatever the client
  // still sends is never read.
  LeftUnread = true;
}

bool TRequestReader::Fill(TClock::time_point deadline) {
  if (!Storage) Storage = std::make_unique_for_overwrite<char[]>(kReaderBufferBytes);
  // What is still to be taken moves to the front. It is never more than a
  // part of a line (more comes only when no whole line is waiting), so the
  // room for a whole read is always there.
  if (Start > 0) {
    std::memmove(Storage.get(), Storage.get() + Start, End - Start);
    End -= Start;
    Start = 0;
  }
  const int room = static_cast<int>(kReaderBufferBytes - End);
  const int got = Source.ReadSome(Storage.get() + End, room, deadline);
  if (got <= 0) return false;
  End += static_cast<std::size_t>(got);
  return true;
}

TRequestReader::TLine TRequestReader::NextLine(std::string& line, TClock::time_point deadline) {
  // Only CR LF ends a line; a lone CR or LF stays in it (and is refused
  // with the line).
  std::size_t scanned = 0;  // bytes after Start already known to hold no CR LF
  for (;;) {
    const std::string_view waiting(Storage ? Storage.get() + Start : nullptr, End - Start);
    const std::size_t at = waiting.find("\r\n", scanned);
    if (at != std::string_view::npos) {
      if (at > kMaxHeadLineChars) return TLine::TooLong;
      line.assign(waiting.data(), at);
      Start += at + 2;
      return TLine::Complete;
    }
    // A line already longer than the most allowed will not be read, however
    // it ends; a CR at the very end may still be the start of its end.
    const bool crAtEnd = !waiting.empty() && waiting.back() == '\r';
    const std::size_t lineSoFar = waiting.size() - (crAtEnd ? 1 : 0);
    if (lineSoFar > kMaxHeadLineChars) return TLine::TooLong;
    scanned = lineSoFar;
    if (!Fill(deadline)) return TLine::Ended;
  }
}

bool TRequestReader::TakeHeadLine(const std::string& line, bool& getMark,
                                  TBodyAnnouncement& body) {
  if (HasForbiddenHeadByte(line)) {
    // The line itself is dropped: it reaches neither the header nor the log.
    Refuse(400);
    return false;
  }
  Out.Lines.push_back(line);
  if (Out.Lines.size() == 1)
    getMark = RequestMethod(line) == mtGet;
  else
    NoteHeaderLine(line, body);
  if (Out.Lines.size() > kMaxRequestLines) {
    Refuse(400);
    return false;
  }
  return true;
}

void TRequestReader::NoteHeaderLine(const std::string& line, TBodyAnnouncement& body) {
  const std::size_t colon = line.find(':');
  if (colon == std::string::npos) return;
  const std::string_view name = std::string_view(line).substr(0, colon);
  const std::string_view value = std::string_view(line).substr(colon + 1);
  if (SameText(name, "CONTENT-LENGTH")) {
    long long length = 0;
    if (!ParseDecimal(value, length) || (body.LengthSeen && body.Length != length)) {
      // The end of the body is not known, so nothing after it could be
      // told apart from it.
      Refuse(400);
      return;
    }
    body.LengthSeen = true;
    body.Length = length;
  } else if (SameText(name, "TRANSFER-ENCODING")) {
    // Only bodies of a stated length are read; the chunks of a coded body
    // would be taken for the next request.
    Refuse(501);
  } else if (SameText(name, "CONNECTION")) {
    if (HasListItem(value, "CLOSE")) {
      // Answered all the same; the connection ends after the reply.
      LogError("Request pipe closed by client (Connection: close)");
      Out.CloseAfterReply = true;
    }
  } else {
    // A blank before the colon makes another name for the header object,
    // but some clients and proxies would still read these two as what
    // frames the body; a request that means two things is refused.
    const std::string_view trimmed = TrimBlanks(name);
    if (trimmed.size() != name.size() &&
        (SameText(trimmed, "CONTENT-LENGTH") || SameText(trimmed, "TRANSFER-ENCODING")))
      Refuse(400);
  }
}

long long TRequestReader::BodyToRead(bool getMark, const TBodyAnnouncement& body) {
  if (Out.Status != 0 || !body.LengthSeen || body.Length <= 0) return 0;
  if (getMark) {
    // A GET body is never read; whatever the client sent of it would be
    // read as the next request, so there is none on this connection.
    Out.CloseAfterReply = true;
    LeftUnread = true;
    return 0;
  }
  if (body.Length > kMaxRequestBodyBytes) {
    Refuse(413);
    return 0;
  }
  // Only a body that could be held whole now is begun; its bytes are taken
  // from the budget as they come (KeepBodyBytes).
  if (!TBodyReservation::Fits(body.Length)) {
    Refuse(503);
    return 0;
  }
  return body.Length;
}

bool TRequestReader::KeepBodyBytes(const char* bytes, std::size_t count) {
  if (!BodyShare.Take(static_cast<long long>(count))) {
    // The other connections' bodies filled the budget while this one came:
    // it is refused, and what it held goes back at once.
    Refuse(503);
    Out.Body.Clear();
    BodyShare.Release();
    return false;
  }
  Out.Body.Write(bytes, count);
  return true;
}

bool TRequestReader::Read() {
  StartRequest();
  const auto headDeadline = DeadlineIn(Limits.HeadSeconds);
  bool getMark = true;
  TBodyAnnouncement announced;
  // The head: a line at a time, each within the line wait and all of them
  // within the head bound, up to the empty line.
  for (;;) {
    const auto deadline = std::min(DeadlineIn(Limits.LineSeconds), headDeadline);
    std::string line;
    if (NextLine(line, deadline) != TLine::Complete) return false;
    if (line.empty()) break;
    if (!TakeHeadLine(line, getMark, announced)) return true;
    if (Terminated.load()) return true;
  }
  // An empty line first is no request; a refused one is answered unread.
  if (Out.Lines.empty() || Out.Status != 0) return true;
  const long long remaining = BodyToRead(getMark, announced);
  if (Out.Status != 0) return true;
  return ReadBody(remaining);
}

bool TRequestReader::ReadBody(long long remaining) {
  // The announced bytes and not one more: what follows on a kept-alive
  // connection stays in the buffer as the next request.
  TBodyPace pace(Limits.BodyGraceSeconds, Limits.BodyMinBytesPerSecond);
  while (remaining > 0) {
    const std::size_t waiting = End - Start;
    if (waiting > 0) {
      const std::size_t taken =
          static_cast<std::size_t>(std::min<long long>(remaining, static_cast<long long>(waiting)));
      if (!KeepBodyBytes(Storage.get() + Start, taken)) return true;
      Start += taken;
      remaining -= static_cast<long long>(taken);
      pace.Received(static_cast<long long>(taken));
      continue;
    }
    if (Terminated.load()) return true;
    // Silent for the idle wait, or behind its pace: the client is gone or
    // holding the connection, and gets no reply. A body cut short by the
    // peer closing is no request either: a gateway must never run on part
    // of what the client meant to send.
    const auto deadline = std::min(DeadlineIn(Limits.BodyIdleSeconds), pace.Deadline);
    if (TClock::now() >= deadline || !Fill(deadline)) return false;
  }
  return true;
}
