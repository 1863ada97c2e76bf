// The session with one reader: the port, the error record, the receive
// buffer, and the small state that links one command to the next (what a
// command announced, how long the next data block may be, the barcode
// settings of the last card format).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "barcode/pipeline/decode_samples.h"
#include "barcode/symbols/symbol_tables.h"
#include "platform/clock.h"
#include "platform/notifier.h"
#include "session/command_families.h"
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

  // `families`: what "S", "W", announced "I" commands and card barcodes go
  // to (commands::Families() in the library).
  OmrInfo(std::unique_ptr<PortLink> port, Clock& clock, Notifier& notifier,
          CommandFamilies& families);
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

  // Line helpers for the command families.
  // Reads as many bytes as `expected` has within `timeoutMs` and compares
  // them with it: true when they match. When they do not, the line is made
  // clean again before it returns - settled when some bytes came (the rest
  // of what they belong to may still be on its way), purged at once when
  // nothing came at all. An echo is never looked for behind stray bytes: it
  // could be a late echo of an earlier, identical command.
  bool ReadEcho(std::string_view expected, unsigned timeoutMs);
  // After anything unexpected on the line, waits until it has been quiet for
  // the inter-byte gap (bounded by the settle time), then purges. False when
  // the line was still busy at the bound.
  bool SettleLine();
  // The purge that a command begins with and a data block ends with. Bytes it
  // finds there were due to nobody, so the line is settled after them, as it
  // is while the last settling found it still busy. False when the line is
  // still busy.
  bool PurgeLine();
  // Reads two bytes within `timeoutMs`.
  std::string ReadAnswer(unsigned timeoutMs);
  void Write(std::string_view bytes);

  // How many data bytes the last block OmrG received carried (0 when none
  // came, or when it delivered a pending code instead).
  std::size_t LastBlockBytes() const { return lastBlockBytes_; }
  // Whether the reader confirmed the last "R/" with "EN" and nothing else:
  // only then is it sure to have fed a card.
  bool FeedConfirmed() const { return feedConfirmed_; }

  Clock& clock() { return clock_; }
  Notifier& notifier() { return notifier_; }
  // Why the last hand-shake could not open the device (empty if it could).
  const std::string& LastOpenError() const { return lastOpenError_; }

  // ---- The session record, shared with the command families ----
  std::unique_ptr<PortLink> port;
  OmrError error;
  bool isOpen = false;
  bool fixedBlockReply = false;
  bool readLimitActive = false;
  bool readExtraByte = false;
  // The reader may hold a card: an "R/" went out and no "-/" has been
  // confirmed since. A card read that it does not confirm may then hand back
  // that card again.
  bool cardMayBeHeld = false;
  bool barcodeEnabled = false;
  bool barcodeAfterFirstByte = false;
  std::uint32_t readLimit = 0;
  // What an "I" command announces for the command families to carry out:
  // the test point ("I 0"), an area read ("I 1", "I 2", its five numbers),
  // a card passed ("I 3"), the values ("I 4"), a pair of test values
  // ("I 5"), a curve ("I 6").
  struct SetTest {
    int line, column;
  };
  struct AreaRead {
    std::array<int, 5> numbers;
  };
  struct PassCardTest {};
  struct ValueRead {};
  struct TestPair {
    int first, second;
  };
  struct CurveRead {
    int number;
  };
  using Announcement =
      std::variant<std::monostate, SetTest, AreaRead, PassCardTest, ValueRead, TestPair, CurveRead>;
  Announcement announced;
  std::array<int, 5> barcodeParams{};
  int syncCount = 0;
  // The diagnostics' value blocks, as the values they carry: side A (and
  // the value and curve read-outs), side B of an area read. None before the
  // first read-out.
  std::optional<std::vector<int>> valuesA;
  std::optional<std::vector<int>> valuesB;
  std::unique_ptr<char[]> receiveBuffer;
  // The barcode tables of this session: the pattern index grows over its
  // reads, and no other session shares it.
  barcode::SymbolTables barcodeTables;
  // How far barcode reads trust the classic decoder (OmrSetBarcodeMode).
  barcode::BarcodeMode barcodeMode = barcode::kDefaultBarcodeMode;

 private:
  int FinalStatus(int exchangeResult);
  void AwaitLateStatus();
  int RefuseBlock(std::string_view code);
  void ClosePort();

  Clock& clock_;
  Notifier& notifier_;
  CommandFamilies& families_;
  std::string lastOpenError_;
  std::size_t lastBlockBytes_ = 0;
  bool lineBusy_ = false;       // the last settling ended before the line fell quiet
  unsigned quietMs_ = 100;      // how long the next settling waits for quiet
  bool echoGarbled_ = false;    // the last echo read brought bytes, not the echo
  bool finalGarbled_ = false;   // the last final status was neither "EN" nor a status
  bool feedConfirmed_ = false;  // the last "R/" was answered with "EN", nothing else
};

// What a port reports at close when its line-event thread never started.
inline constexpr std::string_view kThreadFailedMessage = "CreateThread failed.";

// Two ASCII digits: a status code.
bool IsStatusCode(std::string_view answer);

}  // namespace markwire
