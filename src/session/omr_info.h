// The session with one reader: the port, the error record, the receive
// buffer, and the small state that links one command to the next (what a
// command announced, how long the next data block may be, the barcode
// settings of the last card format).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "barcode/pipeline/decode_samples.h"
#include "barcode/symbols/symbol_tables.h"
#include "platform/clock.h"
#include "platform/notifier.h"
#include "session/omr_error.h"
#include "transport/port_link.h"

namespace markwire {

class OmrInfo {
 public:
  // Result codes shared by every operation and export.
  static constexpr int kDone = 255;
  static constexpr int kFailed = 0;
  static constexpr int kNotOpen = -1;
  // The reader took a command (its echo was right) but has not answered.
  static constexpr int kAccepted = 1;

  // One data block: up to 2048 bytes. The buffer keeps room for the one byte
  // the reader sends past an announced length and a NUL.
  static constexpr std::size_t kMaxBlock = 2048;
  static constexpr std::size_t kReceiveBufferSize = kMaxBlock + 2;

  // Key that ClassifyCommand returns for a command it cannot classify because
  // one of its numbers is longer than five digits.
  static constexpr char kUnclassifiable = '\0';

  OmrInfo(std::unique_ptr<PortLink> port, Clock& clock, Notifier& notifier);
  virtual ~OmrInfo();
  OmrInfo(const OmrInfo&) = delete;
  OmrInfo& operator=(const OmrInfo&) = delete;

  // The hand-shake on the named device: 255 on line, 0 failed.
  int Open(const std::string& device);
  // Releases everything; the session is not used again.
  void Close();

  // Behind OmrS: copy up to "/", purge, classify, dispatch.
  int SendCommand(const char* command);
  // Records what the command announces; returns its key character.
  char ClassifyCommand(std::string_view command);
  // Write, check the echo, take the two-byte answer.
  int ExchangeCommand(std::string_view command);
  // Behind OmrG: one data block, or the pending status code.
  int ReceiveBlock(char* buffer);

  // Refuses a request without touching the line: 0 with code "06".
  int Refuse();

  // Line helpers for the command families: reads exactly `count` bytes within
  // `timeoutMs` and compares them with `expected`.
  bool ReadExpected(std::string_view expected, unsigned timeoutMs);
  // Reads two bytes within `timeoutMs`.
  std::string ReadAnswer(unsigned timeoutMs);
  void Write(std::string_view bytes);

  Clock& clock() { return clock_; }
  Notifier& notifier() { return notifier_; }
  // Why the last hand-shake could not open the device (empty if it could).
  const std::string& LastOpenError() const { return lastOpenError_; }

  // ---- The session record, shared with the command families ----
  std::unique_ptr<PortLink> port;
  OmrError error;
  bool isOpen = false;
  bool pendingSetTest = false;
  bool fixedBlockReply = false;
  bool pendingI4 = false;
  bool pendingArea = false;
  bool pendingI6 = false;
  bool readLimitActive = false;
  bool pendingI5 = false;
  bool readExtraByte = false;
  bool pendingI3 = false;
  bool barcodeEnabled = false;
  bool barcodeAfterFirstByte = false;
  std::uint32_t readLimit = 0;
  std::array<int, 5> areaArgs{};
  int i6Arg = 0;
  std::array<int, 2> setTestArgs{};
  std::array<int, 2> i5Args{};
  std::array<int, 5> barcodeParams{};
  int syncCount = 0;
  std::unique_ptr<std::uint8_t[]> auxBuffer1;
  std::unique_ptr<std::uint8_t[]> auxBuffer2;
  std::unique_ptr<char[]> receiveBuffer;
  // The barcode tables of this session: the pattern index grows over its
  // reads, and no other session shares it.
  barcode::SymbolTables barcodeTables;
  // How far barcode reads trust the classic decoder (OmrSetBarcodeMode).
  barcode::BarcodeMode barcodeMode = barcode::kDefaultBarcodeMode;

 private:
  int FinalStatus(int exchangeResult);
  int DispatchAnnounced(const std::string& command);
  int RefuseBlock(std::string_view code);
  int WithBarcode(char* buffer, std::size_t dataBytes);
  void ClosePort();

  Clock& clock_;
  Notifier& notifier_;
  std::string lastOpenError_;
};

// What a port reports at close when its line-event thread never started.
inline constexpr std::string_view kThreadFailedMessage = "CreateThread failed.";

// Two ASCII digits: a status code.
bool IsStatusCode(std::string_view answer);

}  // namespace markwire
