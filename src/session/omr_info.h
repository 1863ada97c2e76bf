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
#include <utility>
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

  // ---- The session's state, for the layers above it ----

  // Whether the hand-shake put the reader on line and nothing since found
  // its device lost.
  bool IsOpen() const { return isOpen_; }
  // True when the session has no port or the port's device was lost; the
  // session is then no longer open.
  bool PortLost();
  // The port, for the families that speak to the reader byte by byte; null
  // once the session is closed.
  PortLink* Port() { return port_.get(); }

  // The error record: the last exchange's code and whether it is pending.
  OmrError& Error() { return error_; }
  const OmrError& Error() const { return error_; }

  // How the next data block is received, as the last read command (or area
  // read) set it. ReceiveBlock uses up what applies to one block.
  struct BlockRules {
    // A read command without numbers: the block is four bytes and has no
    // length field.
    bool fixedReply = false;
    // A read command with numbers: the block is clipped to `limit`, or when
    // within it, read with the one byte the reader sends past its length.
    bool limited = false;
    // A first number of 1: a clipped block takes one byte more.
    bool extraByte = false;
    // An area read ("I 1", "I 2") sets the limit to its point count.
    std::uint32_t limit = 0;
  };
  const BlockRules& NextBlock() const { return nextBlock_; }

  // The bytes of the last block, NUL-terminated: as much of it as came, also
  // when the block failed.
  const char* ReceiveBuffer() const { return receiveBuffer_.get(); }

  // The reader may hold a card: an "R/" went out and no "-/" has been
  // confirmed since. A card read that it does not confirm may then hand back
  // that card again.
  bool CardMayBeHeld() const { return cardMayBeHeld_; }

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
  // The announced operation, which is then forgotten (monostate if none).
  Announcement TakeAnnouncement() { return std::exchange(announced_, std::monostate{}); }

  // The barcode settings a card format download leaves: whether cards carry
  // a barcode read after their data block, whether it is laid out after the
  // data's first byte ("T"), and the five numbers of the format's barcode
  // line ("f").
  struct CardBarcode {
    bool enabled = false;
    bool afterFirstByte = false;
    std::array<int, 5> line{};
  };
  const CardBarcode& Barcode() const { return barcode_; }
  void SetBarcode(const CardBarcode& barcode) { barcode_ = barcode; }

  // The sync count of the last card format ("L"), as OmrGetSync reports it.
  int SyncCount() const { return syncCount_; }
  void SetSyncCount(int count) { syncCount_ = count; }

  // The diagnostics' value blocks, as the values they carry: side A (and
  // the value and curve read-outs), side B of an area read. None before the
  // first read-out.
  enum class ValueSide { kA, kB };
  const std::optional<std::vector<int>>& ValueBlock(ValueSide side) const {
    return side == ValueSide::kA ? valuesA_ : valuesB_;
  }
  // Replaces one side's block with `count` values of 0, for a read-out to
  // fill; values that do not come stay 0.
  std::vector<int>& NewValueBlock(ValueSide side, std::size_t count) {
    return (side == ValueSide::kA ? valuesA_ : valuesB_).emplace(count, 0);
  }
  // Both sides: none.
  void ClearValueBlocks() {
    valuesA_.reset();
    valuesB_.reset();
  }

  // The barcode tables of this session: the pattern index grows over its
  // reads, and no other session shares it.
  barcode::SymbolTables& BarcodeTables() { return barcodeTables_; }
  // How far barcode reads trust the classic decoder (OmrSetBarcodeMode).
  barcode::BarcodeMode BarcodeMode() const { return barcodeMode_; }
  void SetBarcodeMode(barcode::BarcodeMode mode) { barcodeMode_ = mode; }

 private:
  int FinalStatus(int exchangeResult);
  void AwaitLateStatus();
  int RefuseBlock(std::string_view code);
  void ClosePort();

  std::unique_ptr<PortLink> port_;
  OmrError error_;
  bool isOpen_ = false;
  BlockRules nextBlock_;
  std::unique_ptr<char[]> receiveBuffer_;
  bool cardMayBeHeld_ = false;
  Announcement announced_;
  CardBarcode barcode_;
  int syncCount_ = 0;
  std::optional<std::vector<int>> valuesA_;
  std::optional<std::vector<int>> valuesB_;
  barcode::SymbolTables barcodeTables_;
  barcode::BarcodeMode barcodeMode_ = barcode::kDefaultBarcodeMode;

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
