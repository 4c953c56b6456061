// A bare TDS 7.4 client for the requests no library sends: it logs in as "sa"
// over a plain socket, then passes whole messages both ways, so a test can
// send crafted bytes and read the server's reply as a line of tokens.
//
//   RawClient c(server.port());
//   c.Send(kRpcPacket, RpcPayload("vt_echo", RpcParam("@x", 1, "26 04 04
//   05000000"))); EXPECT_EQ(DescribeReply(c.Receive().value_or("")),
//             "STATUS 0; RET 0 @x 5; DONEPROC 0x0000 0");
#ifndef VENUEDB_TESTS_RAW_CLIENT_H_
#define VENUEDB_TESTS_RAW_CLIENT_H_

#include <cstdint>
#include <optional>
#include <string>

namespace venuedb::testing {

constexpr uint8_t kBatchPacket = 0x01;
constexpr uint8_t kRpcPacket = 0x03;

class RawClient {
 public:
  // Connects to 127.0.0.1:port, sends a pre-login and a LOGIN7 for "sa" with
  // an empty password; logged_in() says whether a LOGINACK came back. With
  // log_in false it only connects. tds_version is the version the login asks
  // for (before 7.2 a batch payload has no ALL_HEADERS: send Utf16(sql)).
  explicit RawClient(int port, bool log_in = true,
                     uint32_t tds_version = 0x74000004);
  ~RawClient();
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool logged_in() const { return logged_in_; }
  // The server's answer to the login, whole (empty when none came).
  const std::string& login_reply() const { return login_reply_; }
  // Sends payload as one message of the given packet type, in packets of at
  // most 4096 bytes.
  bool Send(uint8_t type, const std::string& payload);
  // Sends bytes as they are, packet headers included.
  bool SendBytes(const std::string& bytes);
  // One whole reply message (headers stripped); nullopt when the server
  // closed the connection or nothing came within 10 seconds.
  std::optional<std::string> Receive();
  // True once reply bytes are waiting to be read (within `ms`).
  bool WaitForReply(int ms);
  // Reads and drops what comes until the server closes the connection (end
  // of stream or reset): true, or false when it is still open after `ms`.
  bool WaitForClose(int ms);
  void Close();

 private:
  int fd_ = -1;
  bool logged_in_ = false;
  std::string login_reply_;
};

// The packets of one message of the given type, at most 4096 bytes each; with
// end_of_message false the last one leaves the message unfinished.
std::string Packets(uint8_t type, const std::string& payload,
                    bool end_of_message = true);
// A pre-login message whose options table holds only VERSION.
std::string PreloginPacket();

// "0A 0b0c" -> the bytes 0A 0B 0C (blanks ignored).
std::string Hex(const std::string& hex);
// ASCII text as UTF-16LE.
std::string Utf16(const std::string& ascii);
// A SQL batch: ALL_HEADERS, then the text (UTF-16LE, or the bytes as given).
std::string BatchPayload(const std::string& sql);
std::string BatchPayloadBytes(const std::string& utf16);
// An RPC by name or by procedure id: ALL_HEADERS, the name (or 0xFFFF and the
// id), option flags 0, then the parameters' bytes.
std::string RpcPayload(const std::string& procedure, const std::string& params);
std::string RpcPayload(uint16_t proc_id, const std::string& params);
// One parameter: its name (B_VARCHAR), the status byte, then the type info and
// value given in hex.
std::string RpcParam(const std::string& name, uint8_t status,
                     const std::string& type_and_value_hex);
// An NVARCHAR parameter holding ASCII text.
std::string NVarcharParam(const std::string& name, const std::string& text);

// The reply as tokens separated by "; ": "COLS a,b", "ROW 1,x,NULL",
// "DONE 0x0010 1" (also DONEPROC, DONEINPROC), "STATUS 7", "RET 0 @x 5",
// "ERROR 208", "INFO 5701", "ENV 1", "LOGINACK"; an unknown token ends the
// line with "? 0xNN". Detailed, each column also gives its type and "NN"
// when it is not nullable ("COLS c BIGCHAR(10) NN,i INTN(4)") and each
// message its class and text ("ERROR 208 16 Invalid object name 't'."). An
// NBCROW (0xD2) reads "NBCROW NULL,x".
std::string DescribeReply(const std::string& reply, bool detailed = false);

}  // namespace venuedb::testing

#endif  // VENUEDB_TESTS_RAW_CLIENT_H_
